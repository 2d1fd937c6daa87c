// A small GENH reader for the tests: parses the header the way a player does
// and decodes 16-bit big-endian PCM and DSP ADPCM into samples per channel.
// Written from the format alone, apart from the converter and the encoder.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct genh_file {
    std::uint32_t channels = 0, interleave = 0, sample_rate = 0, loop_start = 0, loop_end = 0,
                  codec = 0, data_start = 0, header_size = 0, dsp_layout = 0;
    std::array<std::uint32_t, 2> coef_offset{};
    std::vector<std::uint8_t> raw;  // the whole file
};

genh_file parse_genh(const std::vector<std::uint8_t>& file);

// `loop_end` samples of every channel, read with the header's interleave.
std::vector<std::vector<std::int16_t>> decode_genh(const genh_file& genh);

// How closely `samples` follow a sine of `frequency`: the fitted sine's
// power over that of what is left, in decibels, and the fitted phase.
struct tone_fit {
    double snr_db;
    double phase;
};
tone_fit fit_tone(const std::vector<std::int16_t>& samples, double frequency,
                  std::uint32_t sample_rate);
