#include "app/core/window_settings.h"

#include "platform/settings_store.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace kv {

namespace {

constexpr const char* kSection = "Appearance";
constexpr const char* kState = "WindowState";
constexpr const char* kSize = "WindowSize";
constexpr const char* kPosition = "WindowPosition";
constexpr int kLargest = 20000;

// Two whole numbers "A,B", nothing around them.
std::optional<std::pair<int, int>> NumberPair(const std::string& text) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) return std::nullopt;
    auto number = [](std::string_view t) -> std::optional<int> {
        int v = 0;
        const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
        if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
        return v;
    };
    const auto a = number(std::string_view(text).substr(0, comma));
    const auto b = number(std::string_view(text).substr(comma + 1));
    if (!a || !b) return std::nullopt;
    return std::pair{*a, *b};
}

} // namespace

Parsed<WindowSize> ParseWindowSize(const std::string& text) {
    const auto pair = NumberPair(text);
    if (!pair) return ParseError{"not WIDTH,HEIGHT"};
    const auto [w, h] = *pair;
    if (w < 400 || h < 300 || w > kLargest || h > kLargest) return ParseError{"no screen has this size"};
    return WindowSize{w, h};
}

std::string WindowSizeText(WindowSize size) { return std::to_string(size.width) + "," + std::to_string(size.height); }

Parsed<WindowPosition> ParseWindowPosition(const std::string& text) {
    const auto pair = NumberPair(text);
    if (!pair) return ParseError{"not X,Y"};
    const auto [x, y] = *pair;
    if (x < -kLargest || y < -kLargest || x > kLargest || y > kLargest) return ParseError{"no screen is there"};
    return WindowPosition{x, y};
}

std::string WindowPositionText(WindowPosition position) {
    return std::to_string(position.x) + "," + std::to_string(position.y);
}

WindowGeometry WindowSettings::Load() const {
    WindowGeometry g;
    g.maximised = settings_.GetSetting(kSection, kState, "0") == "2";
    const auto size = ParseWindowSize(settings_.GetSetting(kSection, kSize));
    const std::string kept = settings_.GetSetting(kSection, kPosition);
    const auto position = ParseWindowPosition(kept);
    // A size kept without a place (by an earlier version) still counts; an odd place makes the
    // whole geometry odd.
    if (!size || (!kept.empty() && !position)) return g;
    g.size = *size;
    if (position) g.position = *position;
    return g;
}

void WindowSettings::Save(int stateNumber, WindowSize size, WindowPosition position) {
    settings_.SaveSetting(kSection, kState, std::to_string(stateNumber));
    settings_.SaveSetting(kSection, kSize, WindowSizeText(size));
    settings_.SaveSetting(kSection, kPosition, WindowPositionText(position));
}

} // namespace kv
