// Composes the four dumps of a sound bank in memory: the index stream, the
// RIFF sound descriptions, and the two sample dumps.  Used by the tests, the
// sample-bank tool and the benchmark; not part of the converter.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bank {

using bytes = std::vector<std::uint8_t>;

void append_be32(bytes& out, std::uint32_t value);
void append_le32(bytes& out, std::uint32_t value);
void append_le16(bytes& out, std::uint16_t value);
void append_be16(bytes& out, std::uint16_t value);
void append_text(bytes& out, const std::string& text);

// Index records.
constexpr std::uint32_t k_sound_record = 0x80000113;

// A marker word followed by its payload words.
bytes index_record(std::uint32_t marker, const std::vector<std::uint32_t>& payload = {});
bytes sound_record(std::uint32_t riff_offset);

// One RIFF chunk: a four-character identifier, the size of `body` (unless
// `size` overrides it) and the body.
struct chunk {
    std::string id;
    bytes body;
    std::int64_t size = -1;  // >= 0: written instead of body.size()
};

chunk fmt_chunk(std::uint16_t codec, std::uint16_t channels, std::uint32_t sample_rate,
                std::uint16_t block_align, std::uint16_t bits_per_sample);
chunk fact_chunk(std::uint32_t sample_count);
// The name's bytes, then `zeros` zero bytes.
chunk name_chunk(const std::string& name, std::size_t zeros = 1);
chunk strm_chunk(std::uint32_t data_offset, std::uint32_t data_size);
// One 48-byte block per channel: its 16 coefficients big-endian, then zeros.
chunk ngcc_chunk(const std::vector<std::array<std::int16_t, 16>>& coefs);

// "RIFF", the size (that of what follows it, unless overridden), the form
// type and the chunks back to back.
bytes riff(const std::string& form, const std::vector<chunk>& chunks, std::int64_t size = -1);

// The four dumps, by their usual file names.
struct dumps {
    bytes index;         // dump01.bin
    bytes header;        // dump00.bin
    bytes wave_samples;  // dumpUC00.bin
    bytes wavs_samples;  // dumpUC01.bin

    void write(const std::filesystem::path& dir) const;
};

void write_file(const std::filesystem::path& path, const bytes& content);

inline const std::vector<std::string> k_dump_names = {"dump01.bin", "dump00.bin", "dumpUC00.bin",
                                                      "dumpUC01.bin"};

// A sound as the bank holds it: its description facts and its sample data.
struct sound {
    std::string name;
    std::string form = "WAVE";  // "WAVE" or "WAVS"
    std::uint16_t codec = 1;    // 1 = PCM, 0x666 = DSP ADPCM
    std::uint16_t channels = 1;
    std::uint32_t sample_rate = 32000;
    std::uint32_t sample_count = 0;                   // DSP only: the "fact" chunk
    std::vector<std::array<std::int16_t, 16>> coefs;  // DSP only: one set per channel
    bytes data;
};

// The chunks a well-formed description of `s` holds, its data of
// `data_size` bytes at `data_offset`.
std::vector<chunk> description_chunks(const sound& s, std::uint32_t data_offset,
                                      std::uint32_t data_size);

// Lays sounds out the way the game's dumps do: descriptions one after the
// other in the header dump, data in the sample dump of the sound's form.
class bank_builder {
public:
    // Adds the sound's description, data and index record.
    void add(const sound& s);
    // Adds the description and index record of a sound whose data the caller
    // places itself (s.data is not used).
    void add_described(const sound& s, std::uint32_t data_offset, std::uint32_t data_size);
    // An "AMPC" description with a sound record pointing at it.
    void add_ampc();
    // A record the converter steps over.
    void add_stepped_over(std::uint32_t marker, const std::vector<std::uint32_t>& payload);
    // Where the description of the next sound will start.
    std::uint32_t next_header_offset() const;
    const dumps& result() const { return dumps_; }

private:
    void add_description(const bytes& description);
    dumps dumps_;
};

}  // namespace bank
