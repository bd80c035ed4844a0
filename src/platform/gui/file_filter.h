#pragma once
// Conversion of the program's file-dialog filters ("Name (*.bin)|*.bin|Other|*.x": name and
// pattern pairs joined by "|") into Qt name filters ("Name (*.bin)", "Other (*.x)"). Qt reads
// the patterns from the parenthesised group at the end of each name, so a name that does not
// already end with its own patterns gets them appended. Plain C++ so it can be tested headless.
#include <string>
#include <vector>

namespace kv {

// One Qt name filter per pair; a trailing name without a pattern is kept with "(*)".
// Empty input gives an empty list (the dialog then shows every file).
std::vector<std::string> ToQtNameFilters(const std::string& filter);

// The default suffix as QFileDialog wants it: ".bin" -> "bin"; empty stays empty.
std::string ToQtDefaultSuffix(const std::string& extension);

} // namespace kv
