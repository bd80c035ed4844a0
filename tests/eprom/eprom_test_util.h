#pragma once
// Helpers of the image tests: synthetic images of each kind, a device double that records the
// write-through.
#include "eprom/eprom_device.h"
#include "eprom/eprom_image.h"
#include "temp_dir.h"

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace kv {

namespace eprom_test {

inline void Put(std::vector<std::uint8_t>& image, std::size_t address, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) image[address + i] = static_cast<std::uint8_t>(text[i]);
}

// A 16 kB image with a deterministic non-erased filler (so no marker area matches by accident).
inline std::vector<std::uint8_t> Filled(std::size_t size = 16384, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = seed;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(128 + (x >> 16) % 127); // 128..254: never 0xFF, never a letter
    }
    return image;
}

inline std::vector<std::uint8_t> LH23Image(int revision = 8) {
    auto image = Filled();
    Put(image, 16368, "MRX-D");
    image[16367] = static_cast<std::uint8_t>(revision);
    return image;
}

inline std::vector<std::uint8_t> EZKImage(int revision = 8) {
    auto image = Filled(16384, 2);
    Put(image, 16352, "MRX-D");
    image[16357] = static_cast<std::uint8_t>(revision);
    return image;
}

// LH 2.2 image of 4096 bytes; region 'U' = USA (kind 6), 'E' = Euro (kind 7).
inline std::vector<std::uint8_t> LH22Image(char region = 'U', int revision = 1) {
    auto image = Filled(4096, 3);
    image[4057] = 'M';
    image[4058] = static_cast<std::uint8_t>(region);
    image[4059] = static_cast<std::uint8_t>(revision);
    return image;
}

inline std::vector<std::uint8_t> EZFImage(int revision = 1) {
    auto image = Filled(2048, 4);
    image[1790] = 'M';
    image[1791] = static_cast<std::uint8_t>(revision);
    return image;
}

// Records what the image writes through; every other command fails.
class RecordingDevice final : public EpromDevice {
public:
    struct Write {
        int unit;
        int address;
        std::vector<std::uint8_t> data;
    };
    std::vector<Write> writes;
    // The emulation memory that ReadEmulatorBlock answers from; empty = no answer.
    std::vector<std::uint8_t> emulator;

    bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) override {
        writes.push_back({ecuKind, address, data});
        return true;
    }
    std::vector<std::uint8_t> EcuReadEprom(int, int, int) override { return {}; }
    std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length) override {
        if (address < 0 || length < 0 || static_cast<std::size_t>(address + length) > emulator.size()) return {};
        return {emulator.begin() + address, emulator.begin() + address + length};
    }
    bool IsIgnitionOn() override { return false; }
    bool PemDetectStart(int) override { return false; }
    int PemDetectStatus() override { return -1; }
    bool PemDetectStop() override { return false; }
    bool PemSelect(int) override { return false; }
    std::string PemGetFirmwareVersion() override { return {}; }
    bool PemWriteBlock(int, const std::vector<std::uint8_t>&) override { return false; }
    std::vector<std::uint8_t> PemReadBlock(int) override { return {}; }
    bool PemFinish() override { return false; }
    void DrainReplies() override {}
    bool UpgradePemFirmware(int) override { return false; }
    bool Reopen() override { return true; }
};

using ::kv::TempDir;

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> Repeat(const std::vector<std::uint8_t>& part, int times) {
    std::vector<std::uint8_t> all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace eprom_test

namespace {

// Parameterised cases print as their description.
template <typename T>
requires requires(const T& t) {
    { t.what } -> std::convertible_to<const char*>;
}
void PrintTo(const T& c, std::ostream* os) { *os << c.what; }

} // namespace

} // namespace kv
