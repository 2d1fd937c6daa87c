// Shared by the end-to-end conversion tests: a scratch folder with dumps
// built in code, and the GENH header a test expects, spelled out.
#pragma once

#include "bank.hpp"
#include "run_tool.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

using bank::chunk;
using bank::fact_chunk;
using bank::fmt_chunk;
using bank::name_chunk;
using bank::strm_chunk;


constexpr std::uint32_t k_riff_at = 0x40;  // where the tests put a description

// Sample dumps whose every byte tells where it came from.
inline bytes patterned(std::size_t size, std::uint8_t salt) {
    bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 31 + salt + i / 251);
    return out;
}

// An "ngcc" chunk whose two 48-byte blocks differ in every byte: channel 0's
// is 0x01, 0x02, ... 0x30, channel 1's 0x81, 0x82, ... 0xB0.
inline chunk numbered_ngcc() {
    chunk c{"ngcc", {}};
    for (int i = 0; i < 96; ++i) c.body.push_back(static_cast<std::uint8_t>((i < 48 ? 0x01 : 0x81) + i % 48));
    return c;
}

inline chunk pcm_fmt(std::uint16_t channels, std::uint16_t bits = 16) {
    return fmt_chunk(1, channels, 22050, static_cast<std::uint16_t>(channels * bits / 8), bits);
}

inline chunk dsp_fmt(std::uint16_t channels) { return fmt_chunk(0x666, channels, 32000, 8, 4); }

// A description that the converter must refuse, and the report it gives.
struct refused_case {
    const char* what;
    std::vector<chunk> chunks;
    std::string report;
    std::int64_t riff_size = -1;
};

class Convert : public testing::Test {
protected:
    Convert() {
        d_.wave_samples = patterned(0x3000, 0x11);
        d_.wavs_samples = patterned(0x3000, 0x77);
    }
    // One sound record pointing at a description made of `chunks`.
    run_result run_one(const std::vector<chunk>& chunks, const std::string& form = "WAVE",
                       std::int64_t riff_size = -1) {
        d_.header.assign(k_riff_at, 0xEE);
        const bytes description = bank::riff(form, chunks, riff_size);
        d_.header.insert(d_.header.end(), description.begin(), description.end());
        d_.index = bank::sound_record(k_riff_at);
        return run();
    }
    run_result run() {
        d_.write(dir_.path());
        return run_tolvane(dir_.path(), bank::k_dump_names);
    }
    // A description that must be refused with `report` (after the banner),
    // before any file is written.
    void expect_refused(const std::vector<chunk>& chunks, const std::string& report,
                        std::int64_t riff_size = -1) {
        const run_result r = run_one(chunks, "WAVE", riff_size);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, k_banner + report);
        EXPECT_TRUE(outputs().empty());
    }
    // The files the run wrote, besides the dumps.
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        for (const std::string& name : dir_.files())
            if (name.find(".bin") == std::string::npos) names.push_back(name);
        return names;
    }
    bank::dumps d_;
    scratch_dir dir_;
};

// Every header byte: the listed little-endian fields and blocks, zero elsewhere.
inline bytes genh_header(const std::map<std::size_t, std::uint32_t>& fields,
                  const std::map<std::size_t, bytes>& blocks = {}) {
    bytes header(152, 0);
    std::memcpy(header.data(), "GENH", 4);
    for (const auto& [at, value] : fields)
        for (std::size_t i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    for (const auto& [at, block] : blocks) std::copy(block.begin(), block.end(), header.begin() + static_cast<std::ptrdiff_t>(at));
    return header;
}

inline bytes slice(const bytes& from, std::size_t at, std::size_t size) {
    return {from.begin() + static_cast<std::ptrdiff_t>(at), from.begin() + static_cast<std::ptrdiff_t>(at + size)};
}

inline bytes concat(const bytes& a, const bytes& b) {
    bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

