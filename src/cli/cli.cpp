#include "cli/cli.h"

#include <ostream>

namespace kv {

namespace {

void PrintUsage(std::ostream& err) {
    err << "usage: kestrovane-cli [--simulate] [--sim-state FILE] [--sim-faults LIST] [--sim-firmware V]\n"
           "                      [--sim-pem-firmware V] [--drive road|dyno] [--drive-seed N] COMMAND ...\n"
           "commands:\n"
           "  image info FILE\n"
           "  image new BASE -o OUT [--format N]\n"
           "  image convert IN -o OUT --format N\n"
           "  image upgrade IN -o OUT [--supermaf yes|no]\n"
           "  image supermaf IN -o OUT\n"
           "  unpack IN -o OUT\n"
           "  map list FILE\n"
           "  map show FILE NAME\n"
           "  map set FILE NAME ROW COL TEXT -o OUT\n"
           "  param list FILE\n"
           "  param set FILE KEY VALUE [-o OUT]\n"
           "  log info RUN.txt\n"
           "  log convert RUN.txt -o OUT.csv\n"
           "  log cells RUN.txt IMAGE --map NAME [--column HEADER] [--min-count N]\n"
           "  autotune IN -o OUT [--map NAME] [--seconds N] [--zones idle,cruise,wot] [--target-idle A]"
           " [--target-cruise A] [--target-wot A] [--error E] [--drive road|dyno] [--drive-seed N]"
           "   (with --simulate)\n"
           "  autotune --from-log RUN.txt IN -o OUT [--map NAME] [--zones idle,cruise,wot] [--target-idle A]"
           " [--target-cruise A] [--target-wot A] [--error E] [--delay S]\n"
           "  calc FUNCTION ARG...\n"
           "  diff A B\n"
           "  device ping | version | load-pem FILE | read-pem lh|ezk -o OUT | read-pem-initiation lh|ezk -o OUT\n"
           "  device read-emulator -o OUT | firmware-check FILE.dat | firmware-upgrade [FILE.dat]\n"
           "  log record --seconds N --vars KEY,... [--rate R] [--trigger T] [--fuel F] [--ignition F] -o RUN.txt\n";
}

} // namespace

int RunCli(const std::vector<std::string>& args, CliIo io) {
    CliOptions options;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        if (a == "--simulate") {
            options.simulate = true;
        } else if (a == "--sim-state") {
            if (!value(options.simStateFile)) break;
        } else if (a == "--sim-faults") {
            if (!value(options.simFaults)) break;
        } else if (a == "--sim-firmware") {
            if (!value(options.simFirmware)) break;
        } else if (a == "--sim-pem-firmware") {
            if (!value(options.simPemFirmware)) break;
        } else if (a == "--drive") {
            if (!value(options.simDrive)) break;
        } else if (a == "--drive-seed") {
            if (!value(options.simDriveSeed)) break;
        } else {
            break;
        }
    }
    if (i >= args.size() || args[i].rfind("--", 0) == 0) {
        PrintUsage(io.err);
        return kExitUsage;
    }
    const std::string command = args[i];
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (command == "image") return RunImageCommand(rest, options, io);
    if (command == "unpack") return RunUnpackCommand(rest, options, io);
    if (command == "map") return RunMapCommand(rest, options, io);
    if (command == "calc") return RunCalcCommand(rest, options, io);
    if (command == "diff") return RunDiffCommand(rest, options, io);
    if (command == "device") return RunDeviceCommand(rest, options, io);
    if (command == "param") return RunParamCommand(rest, options, io);
    if (command == "log") return RunLogCommand(rest, options, io);
    if (command == "autotune") return RunAutotuneCommand(rest, options, io);
    PrintUsage(io.err);
    return kExitUsage;
}

} // namespace kv
