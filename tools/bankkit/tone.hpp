// Test tones for the sample bank: sine waves as 16-bit big-endian PCM, and a
// DSP ADPCM encoder for them.
#pragma once

#include "bank.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bank {

using samples16 = std::vector<std::int16_t>;
using dsp_coefs = std::array<std::int16_t, 16>;  // eight predictor pairs, Q11

// Frequencies are in hundredths of a hertz, so that a tone is the same
// samples everywhere (see tone.cpp).  A sine at half of full scale,
// `quarters_behind` quarter periods late.
samples16 sine(std::uint32_t centihertz, std::uint32_t sample_rate, std::uint32_t count,
               std::uint32_t quarters_behind = 0);

// Channels frame-interleaved (left, right, left, right), each sample
// big-endian.
bytes pcm16_be(const std::vector<samples16>& channels);

// DSP ADPCM: 8-byte frames of 14 samples.  A frame's first byte holds the
// predictor pair's index (high nibble) and the scale's shift (low nibble);
// seven bytes of 4-bit two's-complement residuals follow, high nibble first.
constexpr std::size_t k_dsp_frame_bytes = 8;
constexpr std::size_t k_dsp_frame_samples = 14;

// Predictor pairs suited to a tone of `centihertz`: the sine's own recurrence,
// damped versions of it, and general low-order predictors.
dsp_coefs dsp_coefs_for(std::uint32_t centihertz, std::uint32_t sample_rate);

// Encodes one channel, choosing for every frame the predictor and scale that
// decode closest to the input.  The last frame is padded with silence.
bytes dsp_encode(const samples16& pcm, const dsp_coefs& coefs);

// Whole sounds of a tone, `count` samples per channel.  Stereo tones carry
// the same pitch with the right channel a quarter period behind, so the two
// channels differ and a swap or a mixed-up interleave shows.
sound pcm_tone(const std::string& name, const std::string& form, std::uint16_t channels,
               std::uint32_t sample_rate, std::uint32_t centihertz, std::uint32_t count);
sound dsp_tone(const std::string& name, const std::string& form, std::uint16_t channels,
               std::uint32_t sample_rate, std::uint32_t centihertz, std::uint32_t count);

}  // namespace bank

namespace bank {

// The sounds of the bundled sample bank.
struct tone_spec {
    const char* name;
    const char* form;
    bool dsp;
    std::uint16_t channels;
    std::uint32_t sample_rate;
    std::uint32_t centihertz;    // hundredths of a hertz
    std::uint32_t sample_count;  // per channel: 300 ms
};
const std::vector<tone_spec>& sample_bank_tones();

// The sample bank: every tone above, in that order, with an "AMPC" sound
// after the fourth and stepped-over records between them.
dumps sample_bank();

}  // namespace bank
