// The packed resource form: header detection, the three token kinds, the key, and streams that
// are cut short or lie about their sizes.
#include "eprom/eprom_image.h"
#include "eprom/pack_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace kv {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Packed(std::uint8_t mode, const Bytes& tokens) {
    Bytes data = {'F', 'P', mode};
    data.insert(data.end(), tokens.begin(), tokens.end());
    return data;
}

Bytes Scrambled(const Bytes& tokens) {
    const auto key = PackedResourceKey();
    Bytes out = tokens;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] ^= key[i % key.size()];
    return Packed(1, out);
}

struct TokenCase {
    const char* what;
    Bytes tokens;
    Bytes expected;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.what; }

class UnpackTokens : public testing::TestWithParam<TokenCase> {};

TEST_P(UnpackTokens, PlainAndScrambledGiveTheSameOutput) {
    const auto& c = GetParam();
    EXPECT_EQ(UnpackResource(Packed(0, c.tokens)), c.expected) << c.what;
    EXPECT_EQ(UnpackResource(Scrambled(c.tokens)), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, UnpackTokens,
    testing::Values(
        TokenCase{"fill", {0x40, 0x03, 0x41, 0xC0}, {0x41, 0x41, 0x41}},
        TokenCase{"literal then overlapping copy",
                  {0x00, 0x02, 0x10, 0x20, 0x80, 0x04, 0x00, 0x02, 0xC0},
                  {0x10, 0x20, 0x10, 0x20, 0x10, 0x20}},
        TokenCase{"count uses the low six bits of the first byte", {0x41, 0x00, 0x07, 0xC0}, Bytes(256, 0x07)},
        TokenCase{"any byte from 0xC0 ends", {0x40, 0x01, 0x05, 0xFF, 0x40, 0x01, 0x06}, {0x05}},
        TokenCase{"empty stream", {}, {}},
        TokenCase{"no end token: everything decoded is kept", {0x40, 0x02, 0x09}, {0x09, 0x09}},
        TokenCase{"header cut after its first byte", {0x40, 0x02, 0x09, 0x40}, {0x09, 0x09}},
        TokenCase{"fill without its value byte", {0x00, 0x01, 0x33, 0x40, 0x05}, {0x33}},
        TokenCase{"literal longer than the input keeps what is there", {0x00, 0x05, 0x01, 0x02}, {0x01, 0x02}},
        TokenCase{"copy without its distance", {0x00, 0x01, 0x33, 0x80, 0x02, 0x00}, {0x33}},
        TokenCase{"copy reaching before the start ends the output",
                  {0x00, 0x02, 0x01, 0x02, 0x80, 0x01, 0x00, 0x03, 0x40, 0x01, 0x09},
                  {0x01, 0x02}},
        TokenCase{"copy of distance 0 ends the output", {0x00, 0x01, 0x07, 0x80, 0x03, 0x00, 0x00}, {0x07}},
        TokenCase{"copy from an empty output", {0xBF, 0xFF, 0xFF, 0xFF, 0xC0}, {}}));

TEST(Unpack, OutputGrowsPastTheFirstChunk) {
    // 0x7F 0xFF: the largest fill, 16383 bytes, three times = 49149 bytes
    const Bytes tokens = {0x7F, 0xFF, 0xAA, 0x7F, 0xFF, 0xBB, 0x7F, 0xFF, 0xCC, 0xC0};
    const Bytes out = UnpackResource(Packed(0, tokens));
    ASSERT_EQ(out.size(), 3u * 16383u);
    EXPECT_EQ(out[16382], 0xAA);
    EXPECT_EQ(out[16383], 0xBB);
    EXPECT_EQ(out.back(), 0xCC);
}

TEST(Unpack, LongCopyAcrossChunksRepeatsThePattern) {
    const Bytes tokens = {0x00, 0x03, 1, 2, 3, 0xBF, 0xFF, 0x00, 0x03, 0xC0};
    const Bytes out = UnpackResource(Packed(0, tokens));
    ASSERT_EQ(out.size(), 3u + 16383u);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], static_cast<std::uint8_t>(1 + i % 3)) << i;
}

struct RawCase {
    const char* what;
    Bytes data;
};

void PrintTo(const RawCase& c, std::ostream* os) { *os << c.what; }

class UnpackRaw : public testing::TestWithParam<RawCase> {};

TEST_P(UnpackRaw, DataThatIsNotPackedComesBackUnchanged) {
    EXPECT_EQ(UnpackResource(GetParam().data), GetParam().data) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Headers, UnpackRaw,
                         testing::Values(RawCase{"empty", {}}, RawCase{"two bytes", {'F', 'P'}},
                                         RawCase{"mode 2", {'F', 'P', 2, 0x40, 0x03, 0x41, 0xC0}},
                                         RawCase{"mode 255", {'F', 'P', 255, 1}},
                                         RawCase{"lower case", {'f', 'p', 0, 0x40, 0x03, 0x41, 0xC0}},
                                         RawCase{"raw image", Bytes(4096, 0x5A)}));

TEST(Unpack, KeyIsSevenBytesAndRestartsAfterTheSeventh) {
    // Nine literal bytes: the scrambled stream crosses the key's end once.
    const Bytes tokens = {0x00, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xC0};
    EXPECT_EQ(UnpackResource(Scrambled(tokens)), Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // A key of zeros would make the round trip above prove nothing.
    const auto key = PackedResourceKey();
    EXPECT_EQ(std::count(key.begin(), key.end(), 0), 0);
}

} // namespace

namespace {

TEST(Unpack, ArbitraryStreamsStayInsideTheirBounds) {
    // Random token streams, plain and scrambled; the sanitizers catch any stray access. Every
    // two input bytes produce at most 16383 output bytes.
    std::uint32_t x = 12345;
    const auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(x >> 24);
    };
    for (int round = 0; round < 500; ++round) {
        Bytes data = {'F', 'P', static_cast<std::uint8_t>(round % 2)};
        const int length = next() % 64;
        for (int i = 0; i < length; ++i) data.push_back(next());
        const Bytes out = UnpackResource(data);
        ASSERT_LE(out.size(), static_cast<std::size_t>(length / 2 + 1) * 16383u) << round;
    }
}

} // namespace

} // namespace kv
