#include "eprom/mkbase/packer.h"

#include "eprom/pack_key.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace kv {

namespace mkbase {

namespace {

constexpr std::size_t kMaxCount = 0x3FFF;    // 14-bit token count
constexpr std::size_t kMaxDistance = 0xFFFF; // 16-bit copy distance
constexpr std::size_t kMinFill = 4;          // a fill token costs 3 bytes
constexpr std::size_t kMinCopy = 5;          // a copy token costs 4 bytes
constexpr std::size_t kChainLimit = 128;     // candidates looked at per position
constexpr std::size_t kHashSize = 1u << 14;

std::size_t Hash3(const std::vector<std::uint8_t>& d, std::size_t i) {
    return ((static_cast<std::size_t>(d[i]) << 6) ^ (static_cast<std::size_t>(d[i + 1]) << 3) ^ d[i + 2]) &
           (kHashSize - 1);
}

void PutHeader(std::vector<std::uint8_t>& out, std::uint8_t kind, std::size_t n) {
    out.push_back(static_cast<std::uint8_t>(kind | (n >> 8)));
    out.push_back(static_cast<std::uint8_t>(n & 0xFF));
}

void FlushLiterals(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data, std::size_t from,
                   std::size_t to) {
    while (from < to) {
        const std::size_t n = std::min(to - from, kMaxCount);
        PutHeader(out, 0x00, n); // 0x00 | n>>8, n lo, n literal bytes
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                   data.begin() + static_cast<std::ptrdiff_t>(from + n));
        from += n;
    }
}

struct Match {
    std::size_t length = 0;
    std::size_t distance = 0;
};

// Longest earlier occurrence of the bytes at pos, through hash chains of 3-byte prefixes.
class MatchFinder {
public:
    explicit MatchFinder(const std::vector<std::uint8_t>& data)
        : data_(data), head_(kHashSize, kNone), prev_(data.size(), kNone) {}

    Match Find(std::size_t pos) const {
        Match best;
        if (pos + 3 > data_.size()) return best;
        const std::size_t limit = std::min(kMaxCount, data_.size() - pos);
        std::size_t cand = head_[Hash3(data_, pos)];
        for (std::size_t tries = 0; cand != kNone && tries < kChainLimit; ++tries, cand = prev_[cand]) {
            const std::size_t distance = pos - cand;
            if (distance > kMaxDistance) break;
            std::size_t len = 0;
            while (len < limit && data_[cand + len] == data_[pos + len]) ++len;
            if (len > best.length) best = {len, distance};
            if (len == limit) break;
        }
        return best;
    }

    void Insert(std::size_t pos) {
        if (pos + 3 > data_.size()) return;
        const std::size_t h = Hash3(data_, pos);
        prev_[pos] = head_[h];
        head_[h] = pos;
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const std::vector<std::uint8_t>& data_;
    std::vector<std::size_t> head_;
    std::vector<std::size_t> prev_;
};

} // namespace

std::vector<std::uint8_t> PackResource(const std::vector<std::uint8_t>& data, std::uint8_t mode) {
    constexpr std::size_t kHeader = 3;
    std::vector<std::uint8_t> tokens = {'F', 'P', mode}; // "F", "P", mode, then the token stream
    MatchFinder finder(data);
    std::size_t literalStart = 0;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t run = 1;
        while (pos + run < data.size() && run < kMaxCount && data[pos + run] == data[pos]) ++run;
        const Match match = finder.Find(pos);

        std::size_t advance = 0;
        if (run >= kMinFill && run >= match.length) {
            FlushLiterals(tokens, data, literalStart, pos);
            PutHeader(tokens, 0x40, run); // 0x40 | n>>8, n lo, value
            tokens.push_back(data[pos]);
            advance = run;
        } else if (match.length >= kMinCopy) {
            FlushLiterals(tokens, data, literalStart, pos);
            PutHeader(tokens, 0x80, match.length); // 0x80 | n>>8, n lo, distance hi, distance lo
            tokens.push_back(static_cast<std::uint8_t>(match.distance >> 8));
            tokens.push_back(static_cast<std::uint8_t>(match.distance & 0xFF));
            advance = match.length;
        }
        if (advance == 0) {
            finder.Insert(pos);
            ++pos;
            continue;
        }
        for (std::size_t k = 0; k < advance; ++k) finder.Insert(pos + k);
        pos += advance;
        literalStart = pos;
    }
    FlushLiterals(tokens, data, literalStart, pos);
    tokens.push_back(0xC0); // end of data

    if (mode == kPackModeScrambled) {
        // the key index restarts at the first token byte
        const auto key = PackedResourceKey();
        for (std::size_t i = kHeader; i < tokens.size(); ++i) tokens[i] ^= key[(i - kHeader) % key.size()];
    }
    return tokens;
}

} // namespace mkbase

} // namespace kv
