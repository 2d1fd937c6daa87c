#include "tone.hpp"

#include <algorithm>
#include <limits>

namespace bank {

namespace {

// Every sample, coefficient and choice of the encoder is worked out in
// integers, so that each processor, compiler and C library writes the same
// dumps: floating point leaves the last bits to them (contracted
// multiply-adds, x87 excess precision, each library's own sine).

// Angles are fractions of a turn in units of 2^-32; sines are in Q30.
constexpr std::int64_t k_q30 = std::int64_t{1} << 30;
constexpr std::int64_t k_half_pi_q30 = 1686629713;  // pi/2 * 2^30, rounded
constexpr std::uint32_t k_quarter_turn = 1U << 30;
constexpr std::int64_t k_sine_peak = 16384;  // half of full scale

std::int16_t clamp16(std::int64_t value) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

// n / d rounded to the nearest integer, halves away from zero (as llround
// rounds); d > 0.
std::int64_t rounded_quotient(std::int64_t n, std::int64_t d) {
    return n >= 0 ? (2 * n + d) / (2 * d) : -((2 * -n + d) / (2 * d));
}

// sin x for x in [0, pi/2], Q30: its Taylor series to x^15, in Horner's
// form (every partial sum lies in [0, 1], so no product passes 2^62).
std::int64_t sin_q30(std::int64_t x) {
    const std::int64_t x2 = (x * x) >> 30;
    std::int64_t sum = k_q30;
    for (std::int64_t k = 14; k >= 2; k -= 2) sum = k_q30 - ((x2 * sum / (k * (k + 1))) >> 30);
    return (x * sum) >> 30;
}

// sin(2 pi turn / 2^32), Q30, from the first quarter turn by symmetry.
std::int64_t sin_of_turn(std::uint32_t turn) {
    const std::uint32_t quadrant = turn >> 30;
    std::int64_t within = turn & (k_quarter_turn - 1);
    if (quadrant % 2 == 1) within = k_quarter_turn - within;
    const std::int64_t value = sin_q30((within * k_half_pi_q30) >> 30);
    return quadrant >= 2 ? -value : value;
}

// How far a tone of `centihertz` has turned after `i` samples, in 2^-32
// turns (rounded down).  No step overflows at sample rates up to 2^32 / 100.
std::uint32_t turn_at(std::uint32_t centihertz, std::uint32_t sample_rate, std::uint32_t i) {
    const std::uint64_t per_turn = std::uint64_t{100} * sample_rate;
    const std::uint64_t within = std::uint64_t{centihertz} * i % per_turn;
    return static_cast<std::uint32_t>((within << 32) / per_turn);
}

std::vector<samples16> channel_tones(std::uint16_t channels, std::uint32_t sample_rate,
                                     std::uint32_t centihertz, std::uint32_t count) {
    std::vector<samples16> out;
    for (std::uint16_t ch = 0; ch < channels; ++ch)
        out.push_back(sine(centihertz, sample_rate, count, ch));
    return out;
}

// One frame's encoding with a given predictor pair and scale.
struct frame_try {
    std::array<int, k_dsp_frame_samples> residuals{};
    std::int16_t hist1 = 0, hist2 = 0;  // history after the frame
    std::int64_t error = 0;             // the sum of squared differences from the input
};

frame_try try_frame(const std::int16_t* pcm, int c1, int c2, int shift, std::int16_t hist1,
                    std::int16_t hist2) {
    frame_try t;
    for (std::size_t i = 0; i < k_dsp_frame_samples; ++i) {
        const std::int64_t prediction = std::int64_t{c1} * hist1 + std::int64_t{c2} * hist2;
        // The residual whose decoding comes nearest the input sample.
        const std::int64_t wanted = rounded_quotient(
            std::int64_t{pcm[i]} * 2048 - prediction - 1024, std::int64_t{2048} << shift);
        const int residual = static_cast<int>(std::clamp<std::int64_t>(wanted, -8, 7));
        // Exactly what a decoder computes.
        const std::int16_t decoded = clamp16(
            (std::int64_t{residual} * (std::int64_t{1} << shift) * 2048 + 1024 + prediction) >> 11);
        const std::int64_t diff = std::int64_t{decoded} - pcm[i];
        t.error += diff * diff;
        t.residuals[i] = residual;
        hist2 = hist1;
        hist1 = decoded;
    }
    t.hist1 = hist1;
    t.hist2 = hist2;
    return t;
}

}  // namespace

samples16 sine(std::uint32_t centihertz, std::uint32_t sample_rate, std::uint32_t count,
               std::uint32_t quarters_behind) {
    samples16 out(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t turn =
            turn_at(centihertz, sample_rate, i) - quarters_behind * k_quarter_turn;
        out[i] = clamp16(rounded_quotient(sin_of_turn(turn), k_q30 / k_sine_peak));
    }
    return out;
}

bytes pcm16_be(const std::vector<samples16>& channels) {
    bytes out;
    for (std::size_t i = 0; i < channels.front().size(); ++i)
        for (const samples16& channel : channels)
            append_be16(out, static_cast<std::uint16_t>(channel[i]));
    return out;
}

dsp_coefs dsp_coefs_for(std::uint32_t centihertz, std::uint32_t sample_rate) {
    // cos(2 pi f / rate), Q30: k = 2 cos is the sine's own recurrence.
    const std::int64_t cosine = sin_of_turn(turn_at(centihertz, sample_rate, 1) + k_quarter_turn);
    // Each pair in hundredths: the first is a * k + b, the second c.
    const std::int64_t pairs[8][3] = {
        {100, 0, -100}, {99, 0, -98}, {95, 0, -90},  {0, 200, -100},
        {0, 100, 0},    {0, 0, 0},    {0, 150, -60}, {0, 50, 0},
    };
    dsp_coefs coefs{};
    for (std::size_t i = 0; i < 8; ++i) {
        const auto [a, b, c] = pairs[i];
        // (a * 2 cosine / 2^30 + b) / 100 in Q11
        coefs[2 * i] = clamp16(rounded_quotient(a * cosine + b * (k_q30 / 2), 100 * (k_q30 >> 12)));
        coefs[2 * i + 1] = clamp16(rounded_quotient(c * 2048, 100));
    }
    return coefs;
}

bytes dsp_encode(const samples16& pcm, const dsp_coefs& coefs) {
    samples16 padded = pcm;
    padded.resize(
        (pcm.size() + k_dsp_frame_samples - 1) / k_dsp_frame_samples * k_dsp_frame_samples, 0);
    bytes out;
    std::int16_t hist1 = 0, hist2 = 0;
    for (std::size_t start = 0; start < padded.size(); start += k_dsp_frame_samples) {
        frame_try best;
        best.error = std::numeric_limits<std::int64_t>::max();
        int best_header = 0;
        for (std::size_t pair = 0; pair < 8; ++pair) {
            for (int shift = 0; shift <= 12; ++shift) {
                const frame_try t = try_frame(&padded[start], coefs[2 * pair], coefs[2 * pair + 1],
                                              shift, hist1, hist2);
                if (t.error < best.error) {
                    best = t;
                    best_header = static_cast<int>(pair) << 4 | shift;
                }
            }
        }
        out.push_back(static_cast<std::uint8_t>(best_header));
        for (std::size_t i = 0; i < k_dsp_frame_samples; i += 2)
            out.push_back(static_cast<std::uint8_t>((best.residuals[i] & 0xF) << 4 |
                                                    (best.residuals[i + 1] & 0xF)));
        hist1 = best.hist1;
        hist2 = best.hist2;
    }
    return out;
}

namespace {

sound described(const std::string& name, const std::string& form, std::uint16_t codec,
                std::uint16_t channels, std::uint32_t sample_rate) {
    sound s;
    s.name = name;
    s.form = form;
    s.codec = codec;
    s.channels = channels;
    s.sample_rate = sample_rate;
    return s;
}

}  // namespace

sound pcm_tone(const std::string& name, const std::string& form, std::uint16_t channels,
               std::uint32_t sample_rate, std::uint32_t centihertz, std::uint32_t count) {
    sound s = described(name, form, 1, channels, sample_rate);
    s.data = pcm16_be(channel_tones(channels, sample_rate, centihertz, count));
    return s;
}

sound dsp_tone(const std::string& name, const std::string& form, std::uint16_t channels,
               std::uint32_t sample_rate, std::uint32_t centihertz, std::uint32_t count) {
    sound s = described(name, form, 0x666, channels, sample_rate);
    s.sample_count = count;
    // Channel after channel, each a whole number of frames: a reader told to
    // interleave by half the data finds each channel's frames in one run.
    for (const samples16& channel : channel_tones(channels, sample_rate, centihertz, count)) {
        s.coefs.push_back(dsp_coefs_for(centihertz, sample_rate));
        const bytes frames = dsp_encode(channel, s.coefs.back());
        s.data.insert(s.data.end(), frames.begin(), frames.end());
    }
    return s;
}

}  // namespace bank

namespace bank {

const std::vector<tone_spec>& sample_bank_tones() {
    static const std::vector<tone_spec> tones = {
        {"pcm_mono_a4", "WAVE", false, 1, 22050, 44000, 6615},
        {"pcm_stereo_c5", "WAVS", false, 2, 32000, 52325, 9600},
        {"dsp_mono_e5", "WAVE", true, 1, 32000, 65925, 9600},
        {"dsp_stereo_g4", "WAVS", true, 2, 48000, 39200, 14400},
        {"pcm_mono_d5", "WAVS", false, 1, 44100, 58733, 13230},
        {"pcm_stereo_b4", "WAVE", false, 2, 48000, 49388, 14400},
        {"dsp_mono_a5", "WAVS", true, 1, 22050, 88000, 6615},
        {"dsp_stereo_c4", "WAVE", true, 2, 44100, 26163, 13230},
    };
    return tones;
}

dumps sample_bank() {
    bank_builder b;
    b.add_stepped_over(0x80000001, {0x10, 0x20});
    std::uint32_t added = 0;
    for (const tone_spec& t : sample_bank_tones()) {
        b.add(t.dsp ? dsp_tone(t.name, t.form, t.channels, t.sample_rate, t.centihertz,
                               t.sample_count)
                    : pcm_tone(t.name, t.form, t.channels, t.sample_rate, t.centihertz,
                               t.sample_count));
        if (++added == 4) b.add_ampc();
        b.add_stepped_over(0x80000004 + added % 4, {added});
    }
    b.add_stepped_over(0x8000011A, {});
    return b.result();
}

}  // namespace bank
