// End-to-end tests of sound conversion: RIFF descriptions in, GENH files out.
#include "convert_fixture.hpp"
#include "genh_reader.hpp"
#include "tone.hpp"

#include <cmath>
#include <sys/stat.h>

namespace {

TEST_F(Convert, MonoPcm) {
    const run_result r = run_one({name_chunk("mono"), pcm_fmt(1), strm_chunk(0x123, 0x100)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, k_banner);
    EXPECT_EQ(r.out, "WAVE data from 00000123 size 00000100 mono.genh\n");
    const bytes expected = genh_header({{0x04, 1},        // channels
                                        {0x08, 2},        // interleave: one sample
                                        {0x0C, 22050},    // sample rate
                                        {0x10, 0xFFFFFFFF},  // no loop
                                        {0x14, 0x80},     // 0x100 bytes of 16-bit mono
                                        {0x18, 3},        // 16-bit big-endian PCM
                                        {0x1C, 0x98},     // data start
                                        {0x20, 0x38}});   // header size
    EXPECT_EQ(dir_.read("mono.genh"), concat(expected, slice(d_.wave_samples, 0x123, 0x100)));
}

TEST_F(Convert, StereoPcmInterleavesOneSampleOfEachChannel) {
    // Frame-interleaved data with a block alignment of 4: each channel's run is
    // one 2-byte sample.
    const run_result r = run_one({pcm_fmt(2), strm_chunk(0x10, 0x100), name_chunk("st")}, "WAVS");
    EXPECT_EQ(r.out, "WAVS data from 00000010 size 00000100 st.genh\n");
    const bytes expected = genh_header({{0x04, 2}, {0x08, 2}, {0x0C, 22050}, {0x10, 0xFFFFFFFF},
                                        {0x14, 64}, {0x18, 3}, {0x1C, 0x98}, {0x20, 0x38}});
    // WAVS sounds take their data from the fourth input.
    EXPECT_EQ(dir_.read("st.genh"), concat(expected, slice(d_.wavs_samples, 0x10, 0x100)));
}

TEST_F(Convert, MonoDsp) {
    const chunk ngcc = numbered_ngcc();
    const run_result r = run_one({dsp_fmt(1), fact_chunk(0x1234), ngcc, name_chunk("d1"),
                                  strm_chunk(0x800, 0x48)});
    EXPECT_EQ(r.status, 0);
    const bytes expected = genh_header({{0x04, 1},
                                        {0x08, 0},        // no interleave when mono
                                        {0x0C, 32000},
                                        {0x10, 0xFFFFFFFF},
                                        {0x14, 0x1234},   // from "fact"
                                        {0x18, 12},       // DSP ADPCM
                                        {0x1C, 0x98},
                                        {0x20, 0x38},
                                        {0x24, 0x38},     // channel 0 coefficients
                                        {0x2C, 2}},       // mono layout
                                       {{0x38, slice(ngcc.body, 0, 48)}});
    EXPECT_EQ(dir_.read("d1.genh"), concat(expected, slice(d_.wave_samples, 0x800, 0x48)));
}

TEST_F(Convert, StereoDspWithAnOddDataSize) {
    const chunk ngcc = numbered_ngcc();
    run_one({name_chunk("d2"), strm_chunk(0x7, 0x91), ngcc, fact_chunk(0x20), dsp_fmt(2)}, "WAVS");
    const bytes expected = genh_header({{0x04, 2},
                                        {0x08, 0x48},     // half the data, rounded down
                                        {0x0C, 32000},
                                        {0x10, 0xFFFFFFFF},
                                        {0x14, 0x20},
                                        {0x18, 12},
                                        {0x1C, 0x98},
                                        {0x20, 0x38},
                                        {0x24, 0x38},
                                        {0x28, 0x68}},    // channel 1 coefficients
                                       {{0x38, slice(ngcc.body, 0, 48)},
                                        {0x68, slice(ngcc.body, 48, 48)}});
    EXPECT_EQ(dir_.read("d2.genh"), concat(expected, slice(d_.wavs_samples, 0x7, 0x91)));
}

TEST_F(Convert, ChunkWalkDetails) {
    // A later chunk replaces an earlier one; unknown-but-listed chunks are
    // ignored; an odd-sized chunk is followed directly by the next; fields are
    // read at their fixed offsets whatever a chunk's size says.
    chunk short_strm = strm_chunk(0x20, 0x40);
    short_strm.size = 8;
    chunk sizeless_fmt = pcm_fmt(1);
    sizeless_fmt.size = 16;
    const run_result r = run_one({name_chunk("first"), chunk{"wsmp", bytes(3, 0x99)},
                                  strm_chunk(0x999, 0x999), chunk{"guid", bytes(5, 0x98)},
                                  sizeless_fmt, name_chunk("second", 2), short_strm});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "WAVE data from 00000020 size 00000040 second.genh\n");
    EXPECT_EQ(outputs(), (std::vector<std::string>{"second.genh"}));
    EXPECT_EQ(dir_.read("second.genh").size(), 152U + 0x40);
}

TEST_F(Convert, NamesOfOutputFiles) {
    // Up to the first zero byte; all the bytes when there is none; none at all.
    run_one({name_chunk("music01", 2), pcm_fmt(1), strm_chunk(0, 2)});
    run_one({name_chunk("nozero", 0), pcm_fmt(1), strm_chunk(0, 2)});
    const run_result r = run_one({name_chunk("", 0), pcm_fmt(1), strm_chunk(0, 2)});
    EXPECT_EQ(r.out, "WAVE data from 00000000 size 00000002 .genh\n");
    EXPECT_EQ(outputs(), (std::vector<std::string>{".genh", "music01.genh", "nozero.genh"}));
}

TEST_F(Convert, SoundsInIndexOrderAndSameNamesReplaceEachOther) {
    bank::bank_builder b;
    bank::sound s;
    s.name = "twice";
    s.data = bytes(6, 0xAB);
    b.add(s);
    b.add_stepped_over(0x80000117, {1});
    s.form = "WAVS";
    s.data = bytes(4, 0xCD);
    b.add(s);
    s.name = "once";
    b.add(s);
    d_ = b.result();
    const run_result r = run();
    EXPECT_EQ(r.out,
              "WAVE data from 00000000 size 00000006 twice.genh\n"
              "WAVS data from 00000000 size 00000004 twice.genh\n"
              "WAVS data from 00000020 size 00000004 once.genh\n");
    EXPECT_EQ(dir_.read("twice.genh"), dir_.read("once.genh"));
    EXPECT_EQ(dir_.read("twice.genh").back(), 0xCD);
}

// ---- Failures ---------------------------------------------------------------

TEST_F(Convert, DescriptionsThatCannotBeConverted) {
    const std::string missing = "tolvane.cpp:204:process_wave: missing vital info from RIFF\n";
    chunk huge = chunk{"wsmp", {}};
    huge.size = 0x7FFFFFF0;  // carries the next chunk start past 2^31
    const std::vector<refused_case> cases = {
        {"codec 2, whatever follows",
         {fmt_chunk(2, 1, 8000, 2, 16), chunk{"junk", {}}},
         "tolvane.cpp:161:process_wave: only expecting codec id 0x666 or 0x1\n"},
        {"a chunk not in the table",
         {name_chunk("x"), chunk{"LIST", bytes(4, 0)}},
         "unexpected chunk at 0x56\ntolvane.cpp:188:process_wave: who knows?\n"},
        {"PCM with fact",
         {name_chunk("x"), pcm_fmt(1), fact_chunk(5), strm_chunk(0, 2)},
         "tolvane.cpp:197:process_wave: didn't expect fact for uncompressed data\n"},
        {"DSP without fact", {name_chunk("x"), dsp_fmt(1), numbered_ngcc(), strm_chunk(0, 8)}, missing},
        {"DSP without ngcc", {name_chunk("x"), dsp_fmt(1), fact_chunk(14), strm_chunk(0, 8)}, missing},
        {"no name", {pcm_fmt(1), strm_chunk(0, 2)}, missing},
        {"no strm", {name_chunk("x"), pcm_fmt(1)}, missing},
        {"no fmt", {name_chunk("x"), fact_chunk(1), strm_chunk(0, 2)}, missing},
        {"a RIFF size that covers only the form type",
         {name_chunk("x"), pcm_fmt(1), strm_chunk(0, 2)}, missing, 4},
        {"three channels, after every chunk was read",
         {pcm_fmt(3), name_chunk("x"), strm_chunk(0, 6)},
         "tolvane.cpp:207:process_wave: not mono or stereo\n"},
        {"a chunk size that wraps the walk negative",
         {name_chunk("x"), huge},
         "util.cpp:132:get_32_be_seek:fseek: Invalid argument\n"},
        {"a RIFF size beyond the dump", {name_chunk("x")},
         "util.cpp:126:get_32_be:fread: unexpected EOF\n", 0x1000},
        {"fmt fields beyond the dump", {chunk{"fmt ", {1, 0, 1, 0}}},
         "util.cpp:140:get_32_le:fread: unexpected EOF\n"},
    };
    for (const refused_case& c : cases) {
        SCOPED_TRACE(c.what);
        expect_refused(c.chunks, c.report, c.riff_size);
    }
}

TEST_F(Convert, AnEightBitSoundLeavesAnEmptyFile) {
    const run_result r = run_one({name_chunk("eight"), pcm_fmt(1, 8), strm_chunk(0, 4)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "WAVE data from 00000000 size 00000004 eight.genh\n");
    EXPECT_EQ(r.err, k_banner + "tolvane.cpp:254:process_wave: unknown bitdepth\n");
    EXPECT_EQ(dir_.read("eight.genh"), bytes{});
}

TEST_F(Convert, AShortSampleDumpLeavesTheHeaderAndWholePieces) {
    // 0x1100 bytes from 0x2000 of a 0x3000-byte dump: two whole pieces, then
    // the third comes up short.
    const run_result r = run_one({name_chunk("cut"), pcm_fmt(1), strm_chunk(0x2000, 0x1100)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "WAVE data from 00002000 size 00001100 cut.genh\n");
    EXPECT_EQ(r.err, k_banner + "util.cpp:23:dump:fread: unexpected EOF\n");
    const bytes file = dir_.read("cut.genh");
    ASSERT_EQ(file.size(), 152U + 2 * 2048);
    EXPECT_EQ(slice(file, 152, 4096), slice(d_.wave_samples, 0x2000, 4096));
}

TEST_F(Convert, ReadsThatFailAroundTheOutputFile) {
    // The coefficient block runs past the header dump: the file was created,
    // nothing was written to it.
    chunk ngcc = numbered_ngcc();
    ngcc.body.resize(40);
    ngcc.size = 96;
    run_result r = run_one({name_chunk("coef"), dsp_fmt(1), fact_chunk(1), strm_chunk(0, 8), ngcc});
    EXPECT_EQ(r.err, k_banner + "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("coef.genh"), bytes{});
    // The name runs past the header dump: no file is opened, and one of that
    // name already there is left as it was.
    chunk name = name_chunk("kept", 0);
    name.size = 64;
    dir_.write("kept.genh", {1, 2, 3});
    r = run_one({pcm_fmt(1), strm_chunk(0, 2), name});
    EXPECT_EQ(r.err, k_banner + "util.cpp:168:get_bytes:fread: unexpected EOF\n");
    EXPECT_EQ(dir_.read("kept.genh"), (bytes{1, 2, 3}));
    EXPECT_EQ(r.out, "");
}

TEST_F(Convert, AnOutputThatCannotBeCreated) {
    ASSERT_EQ(::mkdir(dir_.file("taken.genh").c_str(), 0755), 0);
    const run_result r = run_one({name_chunk("taken"), pcm_fmt(1), strm_chunk(0, 2)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, k_banner + "tolvane.cpp:219:process_wave:fopen of output: Is a directory\n");
}

// ---- The sample bank --------------------------------------------------------

TEST(SampleBank, EverySoundConvertsToItsTone) {
    scratch_dir dir;
    const bank::dumps d = bank::sample_bank();
    d.write(dir.path());
    const run_result r = run_tolvane(dir.path(), bank::k_dump_names);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "WAVE data from 00000000 size 000033ae pcm_mono_a4.genh\n"
              "WAVS data from 00000000 size 00009600 pcm_stereo_c5.genh\n"
              "WAVE data from 000033c0 size 00001570 dsp_mono_e5.genh\n"
              "WAVS data from 00009600 size 00004050 dsp_stereo_g4.genh\n"
              "WAVS data from 0000d660 size 0000675c pcm_mono_d5.genh\n"
              "WAVE data from 00004940 size 0000e100 pcm_stereo_b4.genh\n"
              "WAVS data from 00013dc0 size 00000ec8 dsp_mono_a5.genh\n"
              "WAVE data from 00012a40 size 00003b10 dsp_stereo_c4.genh\n");
    for (const bank::tone_spec& tone : bank::sample_bank_tones()) {
        SCOPED_TRACE(tone.name);
        const genh_file genh = parse_genh(dir.read(std::string(tone.name) + ".genh"));
        EXPECT_EQ(genh.channels, tone.channels);
        EXPECT_EQ(genh.sample_rate, tone.sample_rate);
        EXPECT_EQ(genh.loop_end, tone.sample_count);
        const auto channels = decode_genh(genh);
        std::vector<double> phases;
        for (const auto& samples : channels) {
            const tone_fit fit = fit_tone(samples, tone.frequency, tone.sample_rate);
            // 16-bit PCM is exact but for rounding (about 92 dB); the 4-bit
            // ADPCM frames of these tones measure 59 to 80 dB.
            EXPECT_GT(fit.snr_db, tone.dsp ? 55.0 : 90.0);
            phases.push_back(fit.phase);
        }
        if (phases.size() == 2) {  // the right channel a quarter period behind
            EXPECT_NEAR(std::remainder(phases[1] - phases[0], 2 * M_PI), -M_PI / 2, 0.01);
        }
    }
}

}  // namespace
