#include "genh_reader.hpp"

#include <cmath>
#include <stdexcept>

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16) |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

std::int16_t be16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int16_t>(b.at(at) << 8 | b.at(at + 1));
}

// Where byte `n` of channel `channel`'s stream lies: channels take turns in
// runs of `interleave` bytes (a single run each when it is 0).
std::size_t locate(const genh_file& g, std::uint32_t channel, std::size_t n) {
    const std::size_t run = g.interleave == 0 ? g.raw.size() : g.interleave;
    return g.data_start + (n / run) * run * g.channels + channel * run + n % run;
}

std::vector<std::int16_t> decode_pcm(const genh_file& g, std::uint32_t channel) {
    std::vector<std::int16_t> out;
    for (std::size_t n = 0; n < g.loop_end; ++n)
        out.push_back(be16(g.raw, locate(g, channel, 2 * n)));
    return out;
}

std::vector<std::int16_t> decode_dsp(const genh_file& g, std::uint32_t channel) {
    std::array<int, 16> coef{};
    for (std::size_t i = 0; i < 16; ++i) coef[i] = be16(g.raw, g.coef_offset[channel] + 2 * i);
    std::vector<std::int16_t> out;
    int hist1 = 0, hist2 = 0;
    for (std::size_t frame = 0; out.size() < g.loop_end; ++frame) {
        const std::uint8_t header = g.raw.at(locate(g, channel, frame * 8));
        const int scale = 1 << (header & 0xF);
        const int c1 = coef[(header >> 4) * 2], c2 = coef[(header >> 4) * 2 + 1];
        for (std::size_t i = 0; i < 14 && out.size() < g.loop_end; ++i) {
            const std::uint8_t byte = g.raw.at(locate(g, channel, frame * 8 + 1 + i / 2));
            int nibble = i % 2 == 0 ? byte >> 4 : byte & 0xF;
            if (nibble >= 8) nibble -= 16;
            int sample = (nibble * scale * 2048 + 1024 + c1 * hist1 + c2 * hist2) >> 11;
            sample = sample < -32768 ? -32768 : sample > 32767 ? 32767 : sample;
            out.push_back(static_cast<std::int16_t>(sample));
            hist2 = hist1;
            hist1 = sample;
        }
    }
    return out;
}

}  // namespace

genh_file parse_genh(const std::vector<std::uint8_t>& file) {
    if (file.size() < 0x30 || le32(file, 0) != 0x484E4547) throw std::runtime_error("not GENH");
    genh_file g;
    g.channels = le32(file, 0x04);
    g.interleave = le32(file, 0x08);
    g.sample_rate = le32(file, 0x0C);
    g.loop_start = le32(file, 0x10);
    g.loop_end = le32(file, 0x14);
    g.codec = le32(file, 0x18);
    g.data_start = le32(file, 0x1C);
    g.header_size = le32(file, 0x20);
    g.coef_offset = {le32(file, 0x24), le32(file, 0x28)};
    g.dsp_layout = le32(file, 0x2C);
    g.raw = file;
    return g;
}

std::vector<std::vector<std::int16_t>> decode_genh(const genh_file& genh) {
    std::vector<std::vector<std::int16_t>> channels;
    for (std::uint32_t c = 0; c < genh.channels; ++c) {
        if (genh.codec == 3)
            channels.push_back(decode_pcm(genh, c));
        else if (genh.codec == 12)
            channels.push_back(decode_dsp(genh, c));
        else
            throw std::runtime_error("codec not read by this reader");
    }
    return channels;
}

tone_fit fit_tone(const std::vector<std::int16_t>& samples, double frequency,
                  std::uint32_t sample_rate) {
    // Least squares: samples ~ a sin(wi) + b cos(wi), by the 2x2 normal
    // equations (a whole number of periods is not assumed).
    const double w = 2 * 3.14159265358979323846 * frequency / sample_rate;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double s = std::sin(w * static_cast<double>(i)),
                     c = std::cos(w * static_cast<double>(i));
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += samples[i] * s;
        yc += samples[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double fitted =
            a * std::sin(w * static_cast<double>(i)) + b * std::cos(w * static_cast<double>(i));
        signal += fitted * fitted;
        noise += (samples[i] - fitted) * (samples[i] - fitted);
    }
    return {10 * std::log10(signal / (noise + 1e-9)), std::atan2(b, a)};
}
