#include "bank.hpp"

#include <fstream>
#include <stdexcept>

namespace bank {

void append_be32(bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void append_le32(bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void append_le16(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append_be16(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void append_text(bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

bytes index_record(std::uint32_t marker, const std::vector<std::uint32_t>& payload) {
    bytes out;
    append_be32(out, marker);
    for (std::uint32_t word : payload) append_be32(out, word);
    return out;
}

bytes sound_record(std::uint32_t riff_offset) {
    return index_record(k_sound_record, {riff_offset});
}

chunk fmt_chunk(std::uint16_t codec, std::uint16_t channels, std::uint32_t sample_rate,
                std::uint16_t block_align, std::uint16_t bits_per_sample) {
    chunk c{"fmt ", {}};
    append_le16(c.body, codec);
    append_le16(c.body, channels);
    append_le32(c.body, sample_rate);
    append_le32(c.body, sample_rate * block_align);  // byte rate: never read
    append_le16(c.body, block_align);
    append_le16(c.body, bits_per_sample);
    return c;
}

chunk fact_chunk(std::uint32_t sample_count) {
    chunk c{"fact", {}};
    append_le32(c.body, sample_count);
    return c;
}

chunk name_chunk(const std::string& name, std::size_t zeros) {
    chunk c{"name", {}};
    append_text(c.body, name);
    c.body.resize(c.body.size() + zeros, 0);
    return c;
}

chunk strm_chunk(std::uint32_t data_offset, std::uint32_t data_size) {
    chunk c{"strm", {}};
    append_le32(c.body, data_offset);
    append_le32(c.body, data_size);
    return c;
}

chunk ngcc_chunk(const std::vector<std::array<std::int16_t, 16>>& coefs) {
    chunk c{"ngcc", {}};
    for (const auto& set : coefs) {
        for (std::int16_t coef : set) append_be16(c.body, static_cast<std::uint16_t>(coef));
        c.body.resize(c.body.size() + 16, 0);
    }
    return c;
}

bytes riff(const std::string& form, const std::vector<chunk>& chunks, std::int64_t size) {
    bytes body;
    append_text(body, form);
    for (const chunk& c : chunks) {
        append_text(body, c.id);
        append_le32(body, static_cast<std::uint32_t>(
                              c.size >= 0 ? c.size : static_cast<std::int64_t>(c.body.size())));
        body.insert(body.end(), c.body.begin(), c.body.end());
    }
    bytes out;
    append_text(out, "RIFF");
    append_le32(
        out, static_cast<std::uint32_t>(size >= 0 ? size : static_cast<std::int64_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void write_file(const std::filesystem::path& path, const bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void dumps::write(const std::filesystem::path& dir) const {
    const bytes* parts[] = {&index, &header, &wave_samples, &wavs_samples};
    for (std::size_t i = 0; i < 4; ++i) write_file(dir / k_dump_names[i], *parts[i]);
}

std::vector<chunk> description_chunks(const sound& s, std::uint32_t data_offset,
                                      std::uint32_t data_size) {
    std::vector<chunk> chunks = {name_chunk(s.name), chunk{"guid", bytes(16, 0x5A)}};
    if (s.codec == 1) {
        chunks.push_back(fmt_chunk(1, s.channels, s.sample_rate,
                                   static_cast<std::uint16_t>(2 * s.channels), 16));
    } else {
        chunks.push_back(fmt_chunk(s.codec, s.channels, s.sample_rate,
                                   static_cast<std::uint16_t>(8 * s.channels), 4));
        chunks.push_back(fact_chunk(s.sample_count));
        chunks.push_back(ngcc_chunk(s.coefs));
    }
    chunks.push_back(strm_chunk(data_offset, data_size));
    return chunks;
}

namespace {

// The game's dumps align what they hold; so do ours, with filler bytes that
// would show up if the converter read outside the ranges it was given.
void align(bytes& out, std::size_t alignment, std::uint8_t filler) {
    while (out.size() % alignment != 0) out.push_back(filler);
}

}  // namespace

void bank_builder::add_description(const bytes& description) {
    align(dumps_.header, 16, 0xA5);
    const bytes record = sound_record(static_cast<std::uint32_t>(dumps_.header.size()));
    dumps_.index.insert(dumps_.index.end(), record.begin(), record.end());
    dumps_.header.insert(dumps_.header.end(), description.begin(), description.end());
}

std::uint32_t bank_builder::next_header_offset() const {
    return static_cast<std::uint32_t>((dumps_.header.size() + 15) / 16 * 16);
}

void bank_builder::add(const sound& s) {
    bytes& samples = s.form == "WAVS" ? dumps_.wavs_samples : dumps_.wave_samples;
    align(samples, 32, 0xC3);
    const auto data_offset = static_cast<std::uint32_t>(samples.size());
    samples.insert(samples.end(), s.data.begin(), s.data.end());
    add_described(s, data_offset, static_cast<std::uint32_t>(s.data.size()));
}

void bank_builder::add_described(const sound& s, std::uint32_t data_offset,
                                 std::uint32_t data_size) {
    add_description(riff(s.form, description_chunks(s, data_offset, data_size)));
}

void bank_builder::add_ampc() {
    add_description(riff("AMPC", {chunk{"ampd", {1, 2, 3, 4, 5, 6}}}));
}

void bank_builder::add_stepped_over(std::uint32_t marker,
                                    const std::vector<std::uint32_t>& payload) {
    const bytes record = index_record(marker, payload);
    dumps_.index.insert(dumps_.index.end(), record.begin(), record.end());
}

}  // namespace bank
