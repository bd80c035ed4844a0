#pragma once
// The format of an image file: a raw dump of a whole EPROM chip, told apart by the file's length.
// The numbers are the codes the command line takes with --format and shows on its "file_format"
// line.
#include <optional>

namespace kv {

enum class FileFormat : int {
    None = 0,        // the image did not come from a file
    EPROM27C32 = 1,  // 4 kB, LH 2.2 and EZF images only
    EPROM27C128 = 2, // 16 kB
    EPROM27C256 = 3, // 32 kB, the image in the upper half
    EPROM27C512 = 4, // 64 kB, the image in the top quarter
};

// The number code of a format, for output.
constexpr int FileFormatCode(FileFormat format) { return static_cast<int>(format); }

// The format of number code 1..4; no format for any other number.
constexpr std::optional<FileFormat> FileFormatOfCode(int code) {
    if (code < FileFormatCode(FileFormat::EPROM27C32) || code > FileFormatCode(FileFormat::EPROM27C512))
        return std::nullopt;
    return static_cast<FileFormat>(code);
}

} // namespace kv
