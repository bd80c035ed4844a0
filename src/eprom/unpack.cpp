// The packed resource form: "F", "P", mode byte, then a token stream (mode 1: scrambled with
// the 7-byte key). Depends on nothing but the standard library: the base-image generator
// compiles this file into itself.
//
// A malformed stream is decoded as far as it is sound and the output produced so far is
// returned: a missing end token ends at the end of the input, a token cut short by the end of
// the input ends the output before it (a literal run keeps the bytes that are there), a copy
// whose distance is 0 or reaches before the start of the output ends the output.
#include "eprom/eprom_image.h"
#include "eprom/pack_key.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kv {

namespace {

constexpr std::size_t kHeaderSize = 3;
constexpr std::size_t kOutputChunk = 16384;

// Grows the output by whole chunks so that `needed` more bytes fit after `used`; false when the
// output would grow past `limit` bytes.
bool Reserve(std::vector<std::uint8_t>& out, std::size_t used, std::size_t needed, std::size_t limit) {
    if (needed > limit - used) return false;
    while (out.size() - used < needed) out.resize(out.size() + kOutputChunk);
    return true;
}

} // namespace

std::vector<std::uint8_t> UnpackResource(const std::vector<std::uint8_t>& data) {
    return *UnpackResource(data, SIZE_MAX);
}

std::optional<std::vector<std::uint8_t>> UnpackResource(const std::vector<std::uint8_t>& data, std::size_t maxOutput) {
    if (data.size() < kHeaderSize || data[0] != 'F' || data[1] != 'P' || data[2] >= 2) {
        if (data.size() > maxOutput) return std::nullopt;
        return data;
    }

    std::vector<std::uint8_t> in(data.begin() + kHeaderSize, data.end());
    if (data[2] == 1) {
        const auto key = PackedResourceKey();
        for (std::size_t i = 0; i < in.size(); ++i) in[i] ^= key[i % key.size()];
    }

    std::vector<std::uint8_t> out(kOutputChunk);
    std::size_t used = 0;
    std::size_t pos = 0;
    while (pos < in.size()) {
        const std::uint8_t b = in[pos];
        if (b >= 0xC0) break;            // end of data
        if (pos + 1 >= in.size()) break; // header cut short
        const std::size_t n = static_cast<std::size_t>(b & 0x3F) * 256 + in[pos + 1];
        pos += 2;
        if (b < 0x40) {
            // literal run: n bytes follow
            const std::size_t take = std::min(n, in.size() - pos);
            if (!Reserve(out, used, take, maxOutput)) return std::nullopt;
            std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(pos), take,
                        out.begin() + static_cast<std::ptrdiff_t>(used));
            used += take;
            pos += take;
            if (take < n) break;
        } else if (b < 0x80) {
            // fill: one value byte, written n times
            if (pos >= in.size()) break;
            const std::uint8_t value = in[pos++];
            if (!Reserve(out, used, n, maxOutput)) return std::nullopt;
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(used), n, value);
            used += n;
        } else {
            // copy from earlier output: distance high byte, low byte
            if (pos + 1 >= in.size()) break;
            const std::size_t d = static_cast<std::size_t>(in[pos]) * 256 + in[pos + 1];
            pos += 2;
            if (d == 0 || d > used) break;
            if (!Reserve(out, used, n, maxOutput)) return std::nullopt;
            for (std::size_t k = 0; k < n; ++k, ++used) out[used] = out[used - d];
        }
    }
    out.resize(used);
    return out;
}

} // namespace kv
