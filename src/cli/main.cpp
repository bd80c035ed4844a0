#include "cli/cli.h"

#include <iostream>

namespace kv {} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCli(args, CliIo{std::cout, std::cerr});
}
