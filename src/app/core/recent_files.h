#pragma once
// The four most recently used image files, kept under "RecentFiles"/"1".."4" ("1" newest).
#include <array>
#include <string>

namespace kv {

class SettingsStore;

inline constexpr int kRecentFileCount = 4;

class RecentFiles {
public:
    explicit RecentFiles(SettingsStore& settings) : settings_(settings) {}

    // Entries 1..4 as stored (empty where unused).
    std::array<std::string, kRecentFileCount> Entries() const;
    // A path already in the list moves to entry 1 and the ones above it move down one place;
    // a new path pushes every entry down one place (the 4th is dropped). Exact comparison.
    // An empty path is ignored.
    void Add(const std::string& path);
    // Menu caption of entry i (1..4): "&" + i + ". " + path; empty for an unused entry.
    std::string MenuCaption(int i) const;

private:
    SettingsStore& settings_;
};

} // namespace kv
