#pragma once
// kestrovane-cli: the scripting and automation tool. Exit codes: 0 success, 1 failure (the
// system's own message on standard error), 2 usage error; `diff` exits 3 when images differ.
#include <iosfwd>
#include <string>
#include <vector>

namespace kv {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Global options that come before the command.
struct CliOptions {
    bool simulate = false;
    std::string simStateFile;
    std::string simFaults;
    std::string simFirmware;
    std::string simPemFirmware;
    // How the simulated car is driven: "road" (a seeded road drive) or "dyno" (the fixed cycle).
    std::string simDrive = "road";
    std::string simDriveSeed = "1";
};

struct CliIo {
    std::ostream& out;
    std::ostream& err;
};

// Runs one command line (without the program name); what the program prints goes to io.
int RunCli(const std::vector<std::string>& args, CliIo io);

// Command groups, one source file each. `args` starts after the group word.
int RunImageCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunUnpackCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunMapCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunCalcCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunDiffCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunDeviceCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunParamCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunLogCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunAutotuneCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
int RunLogRecordCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io);

} // namespace kv
