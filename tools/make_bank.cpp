// Writes the four dumps of a sound bank made of generated tones.
//
//   make_bank OUTDIR
//       the sample bank: PCM and DSP ADPCM tones, mono and stereo, of both
//       forms, with an "AMPC" record and records the converter steps over.
//   make_bank --sounds N --bytes B [--shuffle SEED] OUTDIR
//       a benchmark bank: N mono PCM sounds of B bytes each (B even), their
//       data back to back from offset 0 of dumpUC00.bin.  With --shuffle the
//       index stays in sound order, but the descriptions lie in the header
//       dump, and the data in the sample dump, in two random orders.
#include "bank.hpp"
#include "tone.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

int usage() {
    std::fputs("usage: make_bank [--sounds N --bytes B [--shuffle SEED]] OUTDIR\n", stderr);
    return 2;
}

// Where each of `count` things goes: in order when `seed` is 0, else in the
// random order `which` of that seed.
std::vector<unsigned long> placement(unsigned long count, unsigned long seed, unsigned which) {
    std::vector<unsigned long> slots(count);
    std::iota(slots.begin(), slots.end(), 0UL);
    if (seed != 0) std::shuffle(slots.begin(), slots.end(), std::mt19937_64(seed * 2 + which));
    return slots;
}

// The sample data goes straight to the file, so a bank of gigabytes never
// sits in memory.  Every sound's data is the same tone; its description is
// the same size as any other's (the names are of one length).
bool write_benchmark_bank(const fs::path& dir, unsigned long sounds, unsigned long size,
                          unsigned long seed) {
    bank::sound s;
    s.channels = 1;
    s.sample_rate = 48000;
    const bank::bytes data =
        bank::pcm16_be({bank::sine(100000, 48000, static_cast<std::uint32_t>(size / 2))});
    const std::vector<unsigned long> data_slot = placement(sounds, seed, 0);
    const std::vector<unsigned long> header_slot = placement(sounds, seed, 1);
    bank::bytes index, header;
    for (unsigned long i = 0; i < sounds; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "snd%05lu", i);
        s.name = name;
        const bank::bytes description = bank::riff(
            "WAVE", bank::description_chunks(s, static_cast<std::uint32_t>(data_slot[i] * size),
                                             static_cast<std::uint32_t>(size)));
        // Slots of the header dump, each a description padded to 16 bytes.
        const std::size_t slot_size = (description.size() + 15) / 16 * 16;
        header.resize(sounds * slot_size, 0xA5);
        const std::size_t at = header_slot[i] * slot_size;
        std::copy(description.begin(), description.end(),
                  header.begin() + static_cast<std::ptrdiff_t>(at));
        const bank::bytes record = bank::sound_record(static_cast<std::uint32_t>(at));
        index.insert(index.end(), record.begin(), record.end());
    }
    std::ofstream samples(dir / "dumpUC00.bin", std::ios::binary | std::ios::trunc);
    for (unsigned long i = 0; i < sounds; ++i)
        samples.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(size));
    samples.close();
    bank::write_file(dir / "dump01.bin", index);
    bank::write_file(dir / "dump00.bin", header);
    bank::write_file(dir / "dumpUC01.bin", {});
    return static_cast<bool>(samples);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long sounds = 0, size = 0, seed = 0;
    int arg = 1;
    for (; arg + 1 < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
        const unsigned long value = std::strtoul(argv[arg + 1], nullptr, 0);
        if (std::strcmp(argv[arg], "--sounds") == 0)
            sounds = value;
        else if (std::strcmp(argv[arg], "--bytes") == 0)
            size = value;
        else if (std::strcmp(argv[arg], "--shuffle") == 0)
            seed = value;
        else
            return usage();
    }
    // The whole sample dump within 2^31 - 1 bytes, without a product that
    // could wrap where long is 32 bits.
    if (arg + 1 != argc || (sounds == 0) != (size == 0) || size % 2 != 0 ||
        (sounds != 0 && size > 0x7FFFFFFFUL / sounds))
        return usage();
    const fs::path dir = argv[arg];
    fs::create_directories(dir);
    if (sounds == 0) {
        bank::sample_bank().write(dir);
    } else if (!write_benchmark_bank(dir, sounds, size, seed)) {
        std::fprintf(stderr, "make_bank: cannot write %s\n", argv[arg]);
        return 1;
    }
    return 0;
}
