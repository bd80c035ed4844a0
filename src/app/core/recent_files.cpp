#include "app/core/recent_files.h"

#include "platform/settings_store.h"

#include <algorithm>

namespace kv {

namespace {
constexpr const char* kSection = "RecentFiles";
}

std::array<std::string, kRecentFileCount> RecentFiles::Entries() const {
    std::array<std::string, kRecentFileCount> entries;
    for (int i = 0; i < kRecentFileCount; ++i)
        entries[static_cast<std::size_t>(i)] = settings_.GetSetting(kSection, std::to_string(i + 1), "");
    return entries;
}

void RecentFiles::Add(const std::string& path) {
    if (path.empty()) return;
    auto entries = Entries();
    auto found = std::find(entries.begin(), entries.end(), path);
    // Entries above the found one (or all but the last when new) move down one place.
    auto end = found != entries.end() ? found : entries.end() - 1;
    std::move_backward(entries.begin(), end, end + 1);
    entries[0] = path;
    for (int i = 0; i < kRecentFileCount; ++i)
        settings_.SaveSetting(kSection, std::to_string(i + 1), entries[static_cast<std::size_t>(i)]);
}

std::string RecentFiles::MenuCaption(int i) const {
    if (i < 1 || i > kRecentFileCount) return {};
    auto entries = Entries();
    const auto& path = entries[static_cast<std::size_t>(i - 1)];
    if (path.empty()) return {};
    return "&" + std::to_string(i) + ". " + path;
}

} // namespace kv
