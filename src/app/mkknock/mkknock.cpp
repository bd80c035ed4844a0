// Build-time generator of the knock sound played by the ignition monitor: a short, decaying
// percussive burst as a 16-bit mono PCM WAV file. Deterministic: the same bytes every build.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace kv {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutText(std::vector<std::uint8_t>& out, const char* text) {
    for (const char* p = text; *p; ++p) out.push_back(static_cast<std::uint8_t>(*p));
}

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv_mkknock OUT.wav\n");
        return 2;
    }
    constexpr std::uint32_t kRate = 22050;
    constexpr std::uint32_t kSamples = kRate / 5; // 0.2 s
    constexpr double kPi = 3.14159265358979323846;
    std::vector<std::int16_t> samples(kSamples);
    std::uint32_t noise = 0x2468ACE1u;
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        noise = noise * 1664525u + 1013904223u;
        const double white = static_cast<double>(noise >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
        // A metallic ring at 6.5 kHz over a dull thump, both dying away quickly.
        const double ring = std::sin(2.0 * kPi * 6500.0 * t) * std::exp(-t * 35.0);
        const double thump = std::sin(2.0 * kPi * 180.0 * t) * std::exp(-t * 25.0);
        const double click = white * std::exp(-t * 120.0);
        const double v = 0.45 * ring + 0.35 * thump + 0.3 * click;
        samples[i] = static_cast<std::int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, v)) * 30000.0));
    }
    std::vector<std::uint8_t> out;
    const std::uint32_t dataBytes = kSamples * 2;
    PutText(out, "RIFF");
    Put32(out, 36 + dataBytes);
    PutText(out, "WAVE");
    PutText(out, "fmt ");
    Put32(out, 16);
    Put16(out, 1); // PCM
    Put16(out, 1); // mono
    Put32(out, kRate);
    Put32(out, kRate * 2);
    Put16(out, 2);
    Put16(out, 16);
    PutText(out, "data");
    Put32(out, dataBytes);
    for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));
    std::ofstream file(argv[1], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
