#include "platform/file_io.h"

namespace kv {

std::uint64_t ContentFingerprint(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    auto mix = [&hash](std::uint8_t b) {
        hash ^= b;
        hash *= 1099511628211ULL;
    };
    for (std::uint8_t b : bytes) mix(b);
    for (std::size_t n = bytes.size(), i = 0; i < sizeof(n); ++i) mix(static_cast<std::uint8_t>(n >> (8 * i)));
    return hash;
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace kv
