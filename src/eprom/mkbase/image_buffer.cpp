#include "eprom/mkbase/image_buffer.h"

namespace kv {

namespace mkbase {

namespace {

constexpr std::uint8_t kMarkerLetter = 'M';

} // namespace

ImageBuffer::ImageBuffer(std::size_t size, std::uint32_t seed) : bytes_(size), laidOut_(size, false) {
    // A plain linear congruential generator: the code areas hold no real code, only bytes that
    // make the image non-empty. 0xFF (erased EPROM) and the marker letter are avoided so that
    // no filler byte can be mistaken for a region marker.
    std::uint32_t x = seed;
    for (auto& b : bytes_) {
        x = x * 1103515245u + 12345u;
        auto v = static_cast<std::uint8_t>(x >> 16);
        if (v == 0xFF || v == kMarkerLetter) v = static_cast<std::uint8_t>(v ^ 0x5Au);
        b = v;
    }
}

bool ImageBuffer::Store(int address, int value) {
    if (address < 0 || address >= Size()) {
        errors_.push_back("address " + std::to_string(address) + " outside the image");
        return false;
    }
    if (value < 0 || value > 255) {
        errors_.push_back("value " + std::to_string(value) + " at " + std::to_string(address) + " is not a byte");
        return false;
    }
    bytes_[static_cast<std::size_t>(address)] = static_cast<std::uint8_t>(value);
    return true;
}

void ImageBuffer::Put(int address, int value) {
    if (address >= 0 && address < Size() && laidOut_[static_cast<std::size_t>(address)]) {
        errors_.push_back("address " + std::to_string(address) + " laid out twice");
        return;
    }
    if (Store(address, value)) laidOut_[static_cast<std::size_t>(address)] = true;
}

void ImageBuffer::Overwrite(int address, int value) {
    if (Store(address, value)) laidOut_[static_cast<std::size_t>(address)] = true;
}

void ImageBuffer::PutBytes(int address, const std::vector<int>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) Put(address + static_cast<int>(i), values[i]);
}

void ImageBuffer::PutWord(int address, int value) {
    if (value < 0 || value > 0xFFFF) {
        errors_.push_back("word " + std::to_string(value) + " at " + std::to_string(address) + " does not fit 16 bits");
        return;
    }
    Put(address, value >> 8);
    Put(address + 1, value & 0xFF);
}

void ImageBuffer::OverwriteWord(int address, int value) {
    if (value < 0 || value > 0xFFFF) {
        errors_.push_back("word " + std::to_string(value) + " at " + std::to_string(address) + " does not fit 16 bits");
        return;
    }
    Overwrite(address, value >> 8);
    Overwrite(address + 1, value & 0xFF);
}

void ImageBuffer::PutText(int address, std::string_view text, int width, std::uint8_t pad) {
    if (static_cast<int>(text.size()) > width) {
        errors_.push_back("text \"" + std::string(text) + "\" longer than its field");
        return;
    }
    for (int i = 0; i < width; ++i) {
        const auto k = static_cast<std::size_t>(i);
        Put(address + i, k < text.size() ? static_cast<std::uint8_t>(text[k]) : pad);
    }
}

std::uint8_t ImageBuffer::At(int address) const {
    if (address < 0 || address >= Size()) return 0xFF;
    return bytes_[static_cast<std::size_t>(address)];
}

} // namespace mkbase

} // namespace kv
