#include "tone.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bank {

namespace {

constexpr double k_pi = 3.14159265358979323846;

std::int16_t clamp16(std::int64_t value) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(value, -32768, 32767));
}

std::int16_t q11(double value) { return clamp16(std::llround(value * 2048.0)); }

std::vector<samples16> channel_tones(std::uint16_t channels, std::uint32_t sample_rate,
                                     double frequency, std::uint32_t count) {
    std::vector<samples16> out;
    for (std::uint16_t ch = 0; ch < channels; ++ch)
        out.push_back(sine(frequency, sample_rate, count, 0.5, -ch * k_pi / 2));
    return out;
}

// One frame's encoding with a given predictor pair and scale.
struct frame_try {
    std::array<int, k_dsp_frame_samples> residuals{};
    std::int16_t hist1 = 0, hist2 = 0;  // history after the frame
    double error = 0;
};

frame_try try_frame(const std::int16_t* pcm, int c1, int c2, int shift, std::int16_t hist1,
                    std::int16_t hist2) {
    frame_try t;
    const double scale = static_cast<double>(1 << shift);
    for (std::size_t i = 0; i < k_dsp_frame_samples; ++i) {
        const std::int64_t prediction = std::int64_t{c1} * hist1 + std::int64_t{c2} * hist2;
        const double wanted =
            (pcm[i] * 2048.0 - static_cast<double>(prediction) - 1024.0) / (scale * 2048.0);
        const int residual = static_cast<int>(std::clamp<long long>(std::llround(wanted), -8, 7));
        // Exactly what a decoder computes.
        const std::int16_t decoded = clamp16(
            (std::int64_t{residual} * (std::int64_t{1} << shift) * 2048 + 1024 + prediction) >> 11);
        const double diff = static_cast<double>(decoded) - pcm[i];
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

samples16 sine(double frequency, std::uint32_t sample_rate, std::uint32_t count, double amplitude,
               double phase) {
    samples16 out(count);
    for (std::uint32_t i = 0; i < count; ++i)
        out[i] = clamp16(std::lround(amplitude * 32767.0 *
                                     std::sin(2 * k_pi * frequency * i / sample_rate + phase)));
    return out;
}

bytes pcm16_be(const std::vector<samples16>& channels) {
    bytes out;
    for (std::size_t i = 0; i < channels.front().size(); ++i)
        for (const samples16& channel : channels)
            append_be16(out, static_cast<std::uint16_t>(channel[i]));
    return out;
}

dsp_coefs dsp_coefs_for(double frequency, std::uint32_t sample_rate) {
    const double k = 2 * std::cos(2 * k_pi * frequency / sample_rate);
    const double pairs[8][2] = {
        {k, -1.0},  {k * 0.99, -0.98}, {k * 0.95, -0.9}, {2.0, -1.0},
        {1.0, 0.0}, {0.0, 0.0},        {1.5, -0.6},      {0.5, 0.0},
    };
    dsp_coefs coefs{};
    for (std::size_t i = 0; i < 8; ++i) {
        coefs[2 * i] = q11(pairs[i][0]);
        coefs[2 * i + 1] = q11(pairs[i][1]);
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
        best.error = std::numeric_limits<double>::infinity();
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
               std::uint32_t sample_rate, double frequency, std::uint32_t count) {
    sound s = described(name, form, 1, channels, sample_rate);
    s.data = pcm16_be(channel_tones(channels, sample_rate, frequency, count));
    return s;
}

sound dsp_tone(const std::string& name, const std::string& form, std::uint16_t channels,
               std::uint32_t sample_rate, double frequency, std::uint32_t count) {
    sound s = described(name, form, 0x666, channels, sample_rate);
    s.sample_count = count;
    // Channel after channel, each a whole number of frames: a reader told to
    // interleave by half the data finds each channel's frames in one run.
    for (const samples16& channel : channel_tones(channels, sample_rate, frequency, count)) {
        s.coefs.push_back(dsp_coefs_for(frequency, sample_rate));
        const bytes frames = dsp_encode(channel, s.coefs.back());
        s.data.insert(s.data.end(), frames.begin(), frames.end());
    }
    return s;
}

}  // namespace bank

namespace bank {

const std::vector<tone_spec>& sample_bank_tones() {
    static const std::vector<tone_spec> tones = {
        {"pcm_mono_a4", "WAVE", false, 1, 22050, 440.00, 6615},
        {"pcm_stereo_c5", "WAVS", false, 2, 32000, 523.25, 9600},
        {"dsp_mono_e5", "WAVE", true, 1, 32000, 659.25, 9600},
        {"dsp_stereo_g4", "WAVS", true, 2, 48000, 392.00, 14400},
        {"pcm_mono_d5", "WAVS", false, 1, 44100, 587.33, 13230},
        {"pcm_stereo_b4", "WAVE", false, 2, 48000, 493.88, 14400},
        {"dsp_mono_a5", "WAVS", true, 1, 22050, 880.00, 6615},
        {"dsp_stereo_c4", "WAVE", true, 2, 44100, 261.63, 13230},
    };
    return tones;
}

dumps sample_bank() {
    bank_builder b;
    b.add_stepped_over(0x80000001, {0x10, 0x20});
    std::uint32_t added = 0;
    for (const tone_spec& t : sample_bank_tones()) {
        b.add(
            t.dsp
                ? dsp_tone(t.name, t.form, t.channels, t.sample_rate, t.frequency, t.sample_count)
                : pcm_tone(t.name, t.form, t.channels, t.sample_rate, t.frequency, t.sample_count));
        if (++added == 4) b.add_ampc();
        b.add_stepped_over(0x80000004 + added % 4, {added});
    }
    b.add_stepped_over(0x8000011A, {});
    return b.result();
}

}  // namespace bank
