#pragma once
// kestrovane-cli log ...: the subcommands of the data-logging group, one row each in the table of
// cli_log.cpp. Each takes the arguments after its own name.
#include "cli/cli.h"

#include <string>
#include <vector>

namespace kv {

int RunLogInfo(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunLogConvert(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
// The mean of a column per cell of a fuel map, with the samples and cells counted.
int RunLogCells(const std::vector<std::string>& args, const CliOptions& options, CliIo io);

} // namespace kv
