#pragma once
// A base image under construction: a fixed-size byte buffer that starts out filled with the
// program-code filler, and the helpers that lay maps, axes and parameters into it.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

namespace mkbase {

class ImageBuffer {
public:
    // size bytes of deterministic filler (never 0xFF, never the marker letter "M"), seeded so
    // that every image has its own but reproducible code area.
    ImageBuffer(std::size_t size, std::uint32_t seed);

    // Stores one byte at an address not yet laid out; an address outside the buffer, a value
    // that is not a byte, or a second store at the same address is recorded as an error (see
    // Errors()), so that overlapping layouts cannot go unnoticed.
    void Put(int address, int value);
    // Stores one byte whether or not the address was laid out before (conversions that rewrite
    // what is already there).
    void Overwrite(int address, int value);
    // Stores bytes at address, address + 1, ...
    void PutBytes(int address, const std::vector<int>& values);
    // A 16-bit word, high byte at the lower address (the byte order of every creator-1 kind).
    void PutWord(int address, int value);
    void OverwriteWord(int address, int value);
    // The characters of text at address, then pad bytes up to width.
    void PutText(int address, std::string_view text, int width, std::uint8_t pad);

    // Records a construction fault found by a builder.
    void Fail(std::string message) { errors_.push_back(std::move(message)); }

    std::uint8_t At(int address) const;
    int Size() const { return static_cast<int>(bytes_.size()); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // Every out-of-range store or value that does not fit a byte, in order; empty when sound.
    const std::vector<std::string>& Errors() const { return errors_; }

private:
    bool Store(int address, int value);

    std::vector<std::uint8_t> bytes_;
    std::vector<bool> laidOut_;
    std::vector<std::string> errors_;
};

} // namespace mkbase

} // namespace kv
