// Build-time generator of the two embedded firmware images:
//   mkfirmware DEVICE.dat NVRAM.bin
// DEVICE.dat: the device firmware container (version 6.003, 10872 payload bytes at offset 33,
// 10905 bytes in all). NVRAM.bin: the EPROM-module firmware image (16384 bytes, the first 16256
// of which are sent to a module) in the packed resource form, mode 1. Both are checked by
// reading them back before they are written.
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "eprom/pack_key.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace kv {

namespace {

constexpr std::size_t kDevicePayloadSize = 10872;
constexpr std::size_t kModuleImageSize = 16384;

// Deterministic filler standing in for machine code: a small linear congruential sequence, with
// a readable banner at the start so an image can be recognised in a dump.
std::vector<std::uint8_t> Payload(std::size_t size, const std::string& banner, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<std::uint8_t>(x >> 16);
    }
    for (std::size_t i = 0; i < banner.size() && i < size; ++i) out[i] = static_cast<std::uint8_t>(banner[i]);
    return out;
}

// Packed form, mode 1: "FP", 1, then literal tokens (0x00..0x3F + length) and the end token
// 0xC0, everything after the mode byte scrambled with the 7-byte key.
std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> tokens;
    for (std::size_t at = 0; at < image.size();) {
        const std::size_t n = std::min<std::size_t>(0x3FFF, image.size() - at);
        tokens.push_back(static_cast<std::uint8_t>(n >> 8));   // literal run, length high 6 bits
        tokens.push_back(static_cast<std::uint8_t>(n & 0xFF)); // length low byte
        tokens.insert(tokens.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                      image.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    tokens.push_back(0xC0);
    tokens.push_back(0x00);
    const auto key = PackedResourceKey();
    for (std::size_t i = 0; i < tokens.size(); ++i) tokens[i] ^= key[i % key.size()];
    std::vector<std::uint8_t> out(3 + tokens.size());
    out[0] = 'F';
    out[1] = 'P';
    out[2] = 1; // mode 1: scrambled
    std::copy(tokens.begin(), tokens.end(), out.begin() + 3);
    return out;
}

bool WriteFile(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkfirmware DEVICE.dat NVRAM.bin\n");
        return 2;
    }
    const std::vector<std::uint8_t> device =
        BuildFirmwareContainer(Payload(kDevicePayloadSize, "Kestrovane device firmware 6.003", 0x6003u), 1, "6.003");
    if (device.size() != 10905 || !CheckFirmwareBytes(device, true, nullptr)) {
        std::fprintf(stderr, "mkfirmware: device firmware container does not check\n");
        return 1;
    }

    std::vector<std::uint8_t> module = Payload(kPemFirmwareSize, "Kestrovane EPROM module firmware 1.00", 0x100u);
    module.resize(kModuleImageSize, 0xFF);
    const std::vector<std::uint8_t> packed = Pack(module);
    if (UnpackResource(packed) != module) {
        std::fprintf(stderr, "mkfirmware: packed module firmware does not unpack to itself\n");
        return 1;
    }

    if (!WriteFile(argv[1], device) || !WriteFile(argv[2], packed)) {
        std::fprintf(stderr, "mkfirmware: cannot write the output files\n");
        return 1;
    }
    return 0;
}
