#pragma once
// The arguments a program was started with, as UTF-8 text, the program's name left out. On
// Windows they are taken from the wide-character command line, so that file names in any
// language arrive whole; elsewhere they are `argv` as it is.
#include <string>
#include <vector>

namespace kv {

std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace kv
