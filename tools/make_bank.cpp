// Writes the four dumps of a sound bank made of generated tones.
//
//   make_bank OUTDIR
//       the sample bank: PCM and DSP ADPCM tones, mono and stereo, of both
//       forms, with an "AMPC" record and records the converter steps over.
//   make_bank --sounds N --bytes B OUTDIR
//       a benchmark bank: N mono PCM sounds of B bytes each (B even), their
//       data back to back from offset 0 of dumpUC00.bin.
#include "bank.hpp"
#include "tone.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

int usage() {
    std::fputs("usage: make_bank [--sounds N --bytes B] OUTDIR\n", stderr);
    return 2;
}

// The sample data goes straight to the file, so a bank of gigabytes never
// sits in memory.
bool write_benchmark_bank(const fs::path& dir, unsigned long sounds, unsigned long size) {
    bank::bank_builder b;
    bank::sound s;
    s.channels = 1;
    s.sample_rate = 48000;
    const bank::bytes data =
        bank::pcm16_be({bank::sine(1000.0, 48000, static_cast<std::uint32_t>(size / 2))});
    std::ofstream samples(dir / "dumpUC00.bin", std::ios::binary | std::ios::trunc);
    for (unsigned long i = 0; i < sounds; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "snd%05lu", i);
        s.name = name;
        b.add_described(s, static_cast<std::uint32_t>(i * size), static_cast<std::uint32_t>(size));
        samples.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(size));
    }
    samples.close();
    const bank::dumps& d = b.result();
    bank::write_file(dir / "dump01.bin", d.index);
    bank::write_file(dir / "dump00.bin", d.header);
    bank::write_file(dir / "dumpUC01.bin", d.wavs_samples);
    return static_cast<bool>(samples);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long sounds = 0, size = 0;
    int arg = 1;
    for (; arg + 1 < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
        const unsigned long value = std::strtoul(argv[arg + 1], nullptr, 0);
        if (std::strcmp(argv[arg], "--sounds") == 0)
            sounds = value;
        else if (std::strcmp(argv[arg], "--bytes") == 0)
            size = value;
        else
            return usage();
    }
    if (arg + 1 != argc || (sounds == 0) != (size == 0) || size % 2 != 0 ||
        sounds * size > 0x7FFFFFFFUL)
        return usage();
    const fs::path dir = argv[arg];
    fs::create_directories(dir);
    if (sounds == 0) {
        bank::sample_bank().write(dir);
    } else if (!write_benchmark_bank(dir, sounds, size)) {
        std::fprintf(stderr, "make_bank: cannot write %s\n", argv[arg]);
        return 1;
    }
    return 0;
}
