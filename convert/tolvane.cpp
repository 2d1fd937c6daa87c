// tolvane: builds GENH sound files from decompressed Kestrune dumps.
//
// Inputs, in this order: the index stream (dump01.bin), the RIFF sound
// descriptions (dump00.bin), the sample dump of form "WAVE" sounds
// (dumpUC00.bin) and that of form "WAVS" sounds (dumpUC01.bin).  The index is
// a run of 32-bit big-endian words; a word with bit 31 set opens a record,
// and the sound record 0x80000113 carries the header-dump offset of a RIFF
// description.  Each "WAVE" or "WAVS" sound becomes one NAME.genh file in the
// current directory.  Every problem ends the run with one report, status 1.
#include "platform.hpp"
#include "util.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr const char* k_unit = "tolvane.cpp";

// ---- Offsets --------------------------------------------------------------

// Offsets and sizes are 32-bit and wrap: a description may carry any bytes,
// and the wrapped result is what the next read is made at.
constexpr std::int32_t offset_add(std::int32_t base, std::int32_t delta) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(base) +
                                     static_cast<std::uint32_t>(delta));
}

// Offsets are shown as unsigned 32-bit hexadecimal.
unsigned long shown(std::int32_t offset) { return static_cast<std::uint32_t>(offset); }

bool same_code(const std::uint8_t* bytes, const char (&code)[5]) {
    return std::memcmp(bytes, code, 4) == 0;
}

// ---- Sound descriptions -----------------------------------------------------

// What one RIFF sound description says, gathered chunk by chunk.
struct wave_info {
    std::uint16_t codec = 0;  // 1 = linear PCM, 0x666 = DSP ADPCM
    std::uint16_t channels = 0;
    std::int32_t sample_rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits_per_sample = 0;
    std::int32_t sample_count = 0;  // per channel
    std::int32_t name_offset = -1;
    std::uint32_t name_size = 0;
    std::int32_t coef_offset = -1;  // one 48-byte block per channel
    std::int32_t data_offset = 0;   // in the sample dump
    std::uint32_t data_size = 0;
    bool have_fmt = false;
    bool have_fact = false;
    bool have_strm = false;
};

constexpr std::uint16_t k_codec_pcm = 1;
constexpr std::uint16_t k_codec_dsp = 0x666;

// Chunk identifiers are read as one big-endian word, so they compare in
// file order.
constexpr std::uint32_t fourcc(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[3]));
}

// Each chunk handler reads its fields at fixed offsets from the chunk's start
// (its data begins at +8), whatever the chunk's size says.
void read_fmt(std::FILE* header, std::int32_t chunk, wave_info& info) {
    info.codec = get_16_le_seek(offset_add(chunk, 8), header);
    if (info.codec != k_codec_pcm && info.codec != k_codec_dsp)
        fatal_message(k_unit, 161, "process_wave", "only expecting codec id 0x666 or 0x1");
    info.channels = get_16_le_seek(offset_add(chunk, 10), header);
    info.sample_rate = get_32_le_seek(offset_add(chunk, 12), header);
    info.block_align = get_16_le_seek(offset_add(chunk, 20), header);
    info.bits_per_sample = get_16_le_seek(offset_add(chunk, 22), header);
    info.have_fmt = true;
}

void read_fact(std::FILE* header, std::int32_t chunk, wave_info& info) {
    info.sample_count = get_32_le_seek(offset_add(chunk, 8), header);
    info.have_fact = true;
}

void read_name(std::FILE* header, std::int32_t chunk, wave_info& info) {
    info.name_offset = offset_add(chunk, 8);
    info.name_size = static_cast<std::uint32_t>(get_32_le_seek(offset_add(chunk, 4), header));
}

void read_strm(std::FILE* header, std::int32_t chunk, wave_info& info) {
    info.data_offset = get_32_le_seek(offset_add(chunk, 8), header);
    info.data_size = static_cast<std::uint32_t>(get_32_le_seek(offset_add(chunk, 12), header));
    info.have_strm = true;
}

void read_chunk(std::FILE* header, std::int32_t chunk, wave_info& info) {
    switch (static_cast<std::uint32_t>(get_32_be_seek(chunk, header))) {
    case fourcc("fmt "): read_fmt(header, chunk, info); break;
    case fourcc("fact"): read_fact(header, chunk, info); break;
    case fourcc("name"): read_name(header, chunk, info); break;
    case fourcc("ngcc"): info.coef_offset = offset_add(chunk, 8); break;
    case fourcc("strm"): read_strm(header, chunk, info); break;
    case fourcc("guid"):
    case fourcc("wsmp"): break;
    default:
        print_context("unexpected chunk at 0x%lx\n", shown(chunk));
        fatal_message(k_unit, 188, "process_wave", "who knows?");
    }
}

// A size may lead the walk back over earlier bytes; from there it often
// reaches new ground and ends by itself.  Only a return to a chunk start it
// has already read means it would go round forever.  Brent's method finds
// such a return in constant memory: remember one start, compare every new
// start with it, and move it forward after 1, 2, 4, 8 ... steps.
struct chunk_walk {
    std::int32_t remembered;
    std::uint32_t steps = 0;
    std::uint32_t steps_to_move = 1;
};

void check_not_repeating(chunk_walk& walk, std::int32_t chunk) {
    if (chunk == walk.remembered) {
        print_context("chunk walk repeats from the chunk at 0x%lx\n", shown(chunk));
        fatal_message(k_unit, 192, "process_wave", "bad chunk size");
    }
    if (++walk.steps == walk.steps_to_move) {
        walk.remembered = chunk;
        walk.steps = 0;
        walk.steps_to_move *= 2;
    }
}

// The next chunk starts right after this one's data: no padding to even
// sizes.  A size that wraps the start past 2^31 makes the next read fail.
std::int32_t next_chunk(std::FILE* header, std::int32_t chunk, chunk_walk& walk) {
    const std::int32_t size = get_32_le_seek(offset_add(chunk, 4), header);
    const std::int32_t next = offset_add(offset_add(chunk, size), 8);
    check_not_repeating(walk, next);
    return next;
}

// PCM descriptions carry no "fact": the sample count follows from the size.
void count_pcm_samples(wave_info& info) {
    if (!info.have_fmt || !info.have_strm || info.codec != k_codec_pcm) return;
    if (info.have_fact)
        fatal_message(k_unit, 197, "process_wave", "didn't expect fact for uncompressed data");
    if (info.channels == 0 || info.bits_per_sample == 0)
        fatal_message(k_unit, 199, "process_wave", "PCM with 0 channels or 0 bits per sample");
    // In 64 bits, so data of 2^28 bytes and more is counted right.
    const auto data_size = static_cast<std::int32_t>(info.data_size);
    info.sample_count = static_cast<std::int32_t>(std::int64_t{data_size} * 8 / info.channels /
                                                  info.bits_per_sample);
    info.have_fact = true;
}

void check_complete(const wave_info& info) {
    if (!info.have_fact || info.name_offset == -1 || !info.have_fmt || !info.have_strm ||
        (info.codec == k_codec_dsp && info.coef_offset == -1))
        fatal_message(k_unit, 204, "process_wave", "missing vital info from RIFF");
    if (info.channels != 1 && info.channels != 2)
        fatal_message(k_unit, 207, "process_wave", "not mono or stereo");
}

// ---- GENH output ------------------------------------------------------------

// The four input dumps as the file system knows them, so that no output can
// replace one of them, whatever name or link it is reached by.
using input_ids = std::array<file_id, 4>;

// A GENH file: a 152-byte header of little-endian 32-bit fields, then the
// sample data exactly as the dump holds it.
constexpr std::int32_t k_genh_size = 0x98;
constexpr std::size_t k_genh_channels = 0x04;
constexpr std::size_t k_genh_interleave = 0x08;
constexpr std::size_t k_genh_sample_rate = 0x0C;
constexpr std::size_t k_genh_loop_start = 0x10;
constexpr std::size_t k_genh_loop_end = 0x14;  // the sample count: play it all
constexpr std::size_t k_genh_codec = 0x18;
constexpr std::size_t k_genh_data_start = 0x1C;
constexpr std::size_t k_genh_header_size = 0x20;
constexpr std::size_t k_genh_coef_0 = 0x24;
constexpr std::size_t k_genh_coef_1 = 0x28;
constexpr std::size_t k_genh_dsp_layout = 0x2C;
constexpr std::int32_t k_coef_block_0 = 0x38;  // where the coefficient blocks go
constexpr std::int32_t k_coef_block_1 = 0x68;
constexpr std::int32_t k_coef_block_size = 48;
constexpr std::uint32_t k_genh_pcm16_be = 3;
constexpr std::uint32_t k_genh_dsp = 12;
constexpr std::uint32_t k_no_loop = 0xFFFFFFFF;

using genh_header = std::array<std::uint8_t, k_genh_size>;

void set_field(genh_header& genh, std::size_t field, std::uint32_t value) {
    write_32_le(value, genh.data() + field);
}

void set_field(genh_header& genh, std::size_t field, std::int32_t value) {
    set_field(genh, field, static_cast<std::uint32_t>(value));
}

// Stereo PCM is frame-interleaved, so each channel's run is one sample: the
// block alignment shared by the channels.  Stereo DSP holds all of channel
// 0's frames, then all of channel 1's: each run is half the data.
std::int32_t interleave(const wave_info& info) {
    if (info.codec == k_codec_pcm) return info.block_align / info.channels;
    if (info.channels == 1) return 0;
    return static_cast<std::int32_t>(info.data_size) / info.channels;
}

void set_dsp_fields(std::FILE* header, const wave_info& info, genh_header& genh) {
    set_field(genh, k_genh_coef_0, k_coef_block_0);
    get_bytes_seek(info.coef_offset, header, genh.data() + k_coef_block_0, k_coef_block_size);
    if (info.channels == 2) {
        get_bytes_seek(offset_add(info.coef_offset, k_coef_block_size), header,
                       genh.data() + k_coef_block_1, k_coef_block_size);
        set_field(genh, k_genh_coef_1, k_coef_block_1);
    }
    set_field(genh, k_genh_dsp_layout, info.channels == 1 ? 2U : 0U);
}

genh_header compose_genh(std::FILE* header, const wave_info& info) {
    genh_header genh{};
    std::memcpy(genh.data(), "GENH", 4);
    set_field(genh, k_genh_channels, std::uint32_t{info.channels});
    if (info.codec == k_codec_pcm && info.bits_per_sample != 16)
        fatal_message(k_unit, 254, "process_wave", "unknown bitdepth");
    set_field(genh, k_genh_codec, info.codec == k_codec_pcm ? k_genh_pcm16_be : k_genh_dsp);
    set_field(genh, k_genh_data_start, k_genh_size);
    set_field(genh, k_genh_header_size, k_coef_block_0);
    set_field(genh, k_genh_interleave, interleave(info));
    set_field(genh, k_genh_sample_rate, info.sample_rate);
    set_field(genh, k_genh_loop_start, k_no_loop);
    set_field(genh, k_genh_loop_end, info.sample_count);
    if (info.codec == k_codec_dsp) set_dsp_fields(header, info, genh);
    return genh;
}

// Names longer than this are taken for damage: no real sound name comes
// near it, and the buffers stay fixed.
constexpr std::uint32_t k_max_name = 4096;
using output_path = std::array<char, k_max_name + 7>;  // the name, ".genh", NUL

// A name is printed in the progress line: a control byte (a line feed, an
// escape) would break the line in two, forge another, or drive the user's
// terminal.
bool has_control_byte(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// A name is used as a path relative to the current directory: a separator
// or a drive prefix would put the file elsewhere.
void check_name_stays_here(std::string_view name) {
    if (name_leaves_folder(name))
        fatal_message(k_unit, 216, "process_wave",
                      "name would put the file outside the current directory");
    // Windows also takes some names for devices, streams or other names.
    if (has_control_byte(name) || !name_is_usable_here(name))
        fatal_message(k_unit, 218, "process_wave", "name is not a usable file name on this system");
}

void check_not_an_input(const char* path, const input_ids& inputs) {
    file_id existing;
    if (!identify_file(path, name_origin::output, existing))
        return;  // a new name, or one the rename reports on
    for (const file_id& input : inputs) {
        if (same_file(existing, input)) {
            print_context("output file %s is one of the input dumps\n", path);
            fatal_message(k_unit, 217, "process_wave", "output would overwrite an input");
        }
    }
}

// The file is named after the "name" chunk's bytes up to the first zero.
output_path read_output_path(std::FILE* header, const wave_info& info) {
    if (info.name_size > k_max_name)
        fatal_message(k_unit, 215, "process_wave", "name chunk longer than 4096 bytes");
    std::array<char, k_max_name + 1> name{};
    const auto name_size = static_cast<std::int32_t>(info.name_size);
    get_bytes_seek(info.name_offset, header, name.data(), name_size);
    check_name_stays_here(name.data());
    output_path path{};
    std::snprintf(path.data(), info.name_size + 7, "%s.genh", name.data());
    return path;
}

// Why a progress line could not be written, for the report at the end of
// the run: errno is another call's by then, and a later write may succeed.
int progress_failure = 0;

void print_progress(std::FILE* header, std::int32_t riff_offset, const wave_info& info,
                    const char* path) {
    std::array<std::uint8_t, 12> riff{};
    get_bytes_seek(riff_offset, header, riff.data(), 12);
    const int printed = std::printf("%c%c%c%c data from %08lx size %08lx %s\n", riff[8], riff[9],
                                    riff[10], riff[11], shown(info.data_offset),
                                    static_cast<unsigned long>(info.data_size), path);
    if (printed < 0 && progress_failure == 0) progress_failure = errno;
}

// A sound's file is written under a temporary name, tolvane-N.tmp, and
// takes its own name only once it is complete: a NAME.genh is whole, or the
// file that was there before, whatever ends the run.  The temporary name is
// short (a sound's name may come near the system's limit) and always a new
// file, never one already there (a killed run's, or another run's).
constexpr unsigned k_temporary_names = 1000;
using temporary_name = std::array<char, 24>;

// The file being written, until it has its own name.
struct unfinished_file {
    std::FILE* stream = nullptr;  // until it is closed
    temporary_name name{};        // empty when no file is being written
};
constinit unfinished_file unfinished{};

// At exit: a report ended the run while a file was being written.
void discard_unfinished() {
    if (unfinished.name[0] == '\0') return;
    if (unfinished.stream != nullptr)
        std::fclose(unfinished.stream);  // (Windows removes no open file)
    remove_file(unfinished.name.data());
}

// Numbers in use are passed over; the last one taken is free again by the
// next sound, so each file is one creation.
std::FILE* create_unfinished() {
    static unsigned number = 0;
    for (unsigned tries = 0; tries < k_temporary_names; ++tries) {
        std::snprintf(unfinished.name.data(), unfinished.name.size(), "tolvane-%u.tmp", number);
        unfinished.stream = create_new_file(unfinished.name.data());
        if (unfinished.stream != nullptr) return unfinished.stream;
        if (errno != EEXIST) break;
        number = (number + 1) % k_temporary_names;
    }
    unfinished.name = {};
    fatal_errno(k_unit, 219, "process_wave", "fopen of output");
}

// Closes the file and gives it its own name, in place of any file of it.
void finish_unfinished(const char* path) {
    std::FILE* out = std::exchange(unfinished.stream, nullptr);  // closed, whatever fclose says
    if (std::fclose(out) == -1) fatal_errno(k_unit, 312, "process_wave", "fclose of output file");
    if (!replace_file(unfinished.name.data(), path))
        fatal_errno(k_unit, 313, "process_wave", "rename of output file");
    unfinished.name = {};
}

// Output files are written through buffers of this size: large enough that
// system calls are few, small enough to stay in the processor's cache.
constexpr std::size_t k_copy_buffer = std::size_t{128} * 1024;

void write_genh(std::FILE* header, std::FILE* samples, std::int32_t riff_offset,
                const wave_info& info, const input_ids& inputs) {
    const output_path path = read_output_path(header, info);
    check_not_an_input(path.data(), inputs);
    std::FILE* out = create_unfinished();
    std::array<char, k_copy_buffer> out_buffer;
    std::setvbuf(out, out_buffer.data(), _IOFBF, out_buffer.size());
    print_progress(header, riff_offset, info, path.data());
    const genh_header genh = compose_genh(header, info);
    put_bytes(out, genh.data(), k_genh_size);
    dump(samples, out, info.data_offset, info.data_size);
    finish_unfinished(path.data());
}

// Walks the chunks of the description at `riff_offset`, checks what they
// say, and writes the sound's GENH file.
void process_wave(std::FILE* header, std::FILE* samples, std::int32_t riff_offset,
                  const input_ids& inputs) {
    const std::int32_t riff_size = get_32_le_seek(offset_add(riff_offset, 4), header);
    const std::int32_t end = offset_add(offset_add(riff_offset, 8), riff_size);
    const std::int32_t first = offset_add(riff_offset, 12);
    wave_info info;
    chunk_walk walk{first};
    for (std::int32_t chunk = first; chunk < end; chunk = next_chunk(header, chunk, walk))
        read_chunk(header, chunk, info);
    count_pcm_samples(info);
    check_complete(info);
    write_genh(header, samples, riff_offset, info, inputs);
}

// ---- The index walk ---------------------------------------------------------

constexpr std::uint32_t k_sound_record = 0x80000113;

// Records that carry nothing for us; their payload words are stepped over.
bool is_stepped_over(std::uint32_t marker) {
    switch (marker) {
    case 0x80000001:
    case 0x80000004:
    case 0x80000005:
    case 0x80000006:
    case 0x80000007:
    case 0x8000010A:
    case 0x8000010E:
    case 0x80000115:
    case 0x80000117:
    case 0x80000118:
    case 0x8000011A: return true;
    default: return false;
    }
}

struct dumps {
    std::FILE* index;
    std::FILE* header;
    std::FILE* wave_samples;  // sample data of form "WAVE" sounds
    std::FILE* wavs_samples;  // sample data of form "WAVS" sounds
    input_ids ids;
};

// Memory of the streams that stay open until the process ends.  Every dump
// is read through a cache that holds what the last reads needed: the index
// and the descriptions are read a few bytes at a time at scattered offsets,
// sample data in runs, in whatever order the bank keeps them.
struct stream_memory {
    std::array<input_cache, 4> inputs;
    std::array<char, std::size_t{64} * 1024> progress{};
};

// Opens a dump for reading through its cache, and notes which file it is,
// as the open stream says (so a name changed meanwhile cannot mislead it).
std::FILE* open_dump(const std::string& argument, input_cache& cache, file_id& id, int line,
                     const char* text) {
    std::FILE* stream = open_input(argument.c_str());
    if (stream == nullptr) fatal_errno(k_unit, line, "main", text);
    use_input_cache(stream, cache);
    identify_stream(stream, id);  // (one that cannot be identified matches no output)
    return stream;
}

dumps open_dumps(const std::vector<std::string>& argv, stream_memory& memory) {
    dumps d{};
    std::array<input_cache, 4>& caches = memory.inputs;
    d.index = open_dump(argv[1], caches[0], d.ids[0], 34, "input file 1 open failed");
    d.header = open_dump(argv[2], caches[1], d.ids[1], 36, "input file 2 open failed");
    d.wave_samples = open_dump(argv[3], caches[2], d.ids[2], 38, "input file 3 open failed");
    d.wavs_samples = open_dump(argv[4], caches[3], d.ids[3], 40, "input file 4 open failed");
    return d;
}

// Positions in the index are 32-bit offsets: a larger index (or a folder,
// whose end some file systems place at 2^63 - 1) cannot be walked.
std::int32_t index_size(std::FILE* index) {
    if (std::fseek(index, 0, SEEK_END) == -1) fatal_errno(k_unit, 44, "main", "fseek");
    const std::int64_t size = tell_64(index);
    if (size == -1) fatal_errno(k_unit, 46, "main", "ftell");
    if (size > INT32_MAX)
        fatal_message(k_unit, 48, "main", "index dump too large for 32-bit offsets");
    return static_cast<std::int32_t>(size);
}

// Moves past a record's payload: the words up to the next one with bit 31 set.
std::int32_t skip_payload(std::FILE* index, std::int32_t position, std::int32_t size) {
    while (position < size && get_32_be_seek(position, index) >= 0)
        position = offset_add(position, 4);
    return position;
}

// A sound record's payload word is the header-dump offset of its RIFF
// description; the form type there says which sample dump holds its data.
void convert_sound(const dumps& d, std::int32_t riff_offset) {
    std::array<std::uint8_t, 12> riff{};
    get_bytes_seek(riff_offset, d.header, riff.data(), 12);
    if (!same_code(riff.data(), "RIFF")) {
        print_context("non-RIFF header at 0x%lx\n", shown(riff_offset));
        fatal_message(k_unit, 65, "main", "non-RIFF header, possible bad data00.bin?");
    }
    const std::uint8_t* form = riff.data() + 8;
    if (same_code(form, "WAVS")) {
        process_wave(d.header, d.wavs_samples, riff_offset, d.ids);
    } else if (same_code(form, "WAVE")) {
        process_wave(d.header, d.wave_samples, riff_offset, d.ids);
    } else if (!same_code(form, "AMPC")) {
        print_context("unexpected RIFF type at 0x%lx\n", shown(riff_offset));
        fatal_message(k_unit, 82, "main", "unexpected RIFF type, possible bad data00.bin?");
    }
}

void walk_index(const dumps& d) {
    const std::int32_t size = index_size(d.index);
    std::int32_t position = 0;
    while (position < size) {
        const auto word = static_cast<std::uint32_t>(get_32_be_seek(position, d.index));
        position = offset_add(position, 4);
        if (is_stepped_over(word)) {
            position = skip_payload(d.index, position, size);
        } else if (word == k_sound_record) {
            convert_sound(d, get_32_be_seek(position, d.index));
            position = offset_add(position, 4);
        } else {
            print_context("unknown type %08x\n", static_cast<unsigned>(word));
            fatal_message(k_unit, 104, "main", "unknown type");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Set up before the program starts (constinit), so it is built with no
    // code at run time, and lives until the exit that closes the streams.
    constinit static stream_memory memory{};
    prepare_standard_streams(memory.progress.data(), memory.progress.size());
    std::atexit(discard_unfinished);
    std::fputs("build GENH from decompressed Kestrune dumps\n", stderr);
    const std::vector<std::string> arguments = program_arguments(argc, argv);
    if (arguments.size() != 5)
        fatal_message(k_unit, 26, "main",
                      "usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin");
    walk_index(open_dumps(arguments, memory));
    // Progress lines that could not be written must not end in success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        if (progress_failure != 0) errno = progress_failure;
        fatal_stream(k_unit, 108, "main", "fwrite", stdout);
    }
    return 0;
}
