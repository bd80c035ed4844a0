#pragma once
// Runs kestrovane-cli in-process for a test: its exit code and what it wrote to each stream.
#include "cli/cli.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kv {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(args, CliIo{out, err});
    return {code, out.str(), err.str()};
}

// The bytes of a file (empty when it cannot be read).
inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace kv
