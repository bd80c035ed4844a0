#include "cli/cli.h"
#include "platform/program_args.h"

#include <iostream>

namespace kv {} // namespace kv

using namespace kv;

int main(int argc, char** argv) { return RunCli(ProgramArguments(argc, argv), CliIo{std::cout, std::cerr}); }
