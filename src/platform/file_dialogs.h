#pragma once
// File-dialog seam: choosing a file to open or a place to save.
#include <optional>
#include <string>

namespace kv {

struct FileDialogResult {
    std::string path;    // full path chosen
    int filterIndex = 1; // 1-based index of the chosen filter entry
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // `filter` is "Name (*.bin)|*.bin|Other|*.x" (pairs joined by "|"); `filterIndex` (1-based)
    // is the entry chosen at first. nullopt when cancelled.
    virtual std::optional<FileDialogResult> OpenFileDialog(const std::string& title, const std::string& filter,
                                                           int filterIndex = 1) = 0;
    // `defaultExtension` (without the dot) is added to a name typed without one; `fileName` is
    // the name offered at first (empty = none).
    virtual std::optional<FileDialogResult> SaveFileDialog(const std::string& title, const std::string& filter,
                                                           const std::string& defaultExtension,
                                                           const std::string& fileName, int filterIndex = 1) = 0;
};

} // namespace kv
