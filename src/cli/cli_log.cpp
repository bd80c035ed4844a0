// kestrovane-cli log ...: run files read by the program's own rules, summarised or written as CSV.
#include "cli/cli_log.h"

#include "cli/cli.h"

#include "datalog/run_file.h"
#include "platform/file_io.h"

#include <ostream>
#include <string_view>

namespace kv {

namespace {

struct LogSubcommand {
    std::string_view name;
    std::string_view usage;
    int (*run)(const std::vector<std::string>& args, const CliOptions& options, CliIo io);
};

constexpr LogSubcommand kLogSubcommands[] = {
    {"info", "log info RUN.txt", RunLogInfo},
    {"convert", "log convert RUN.txt -o OUT.csv", RunLogConvert},
    {"record",
     "log record --seconds N --vars KEY,... [--rate 5|10|20] [--trigger None|WOT|RPM] [--fuel FILE] "
     "[--ignition FILE] -o RUN.txt",
     [](const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
         std::vector<std::string> withName{"record"};
         withName.insert(withName.end(), args.begin(), args.end());
         return RunLogRecordCommand(withName, options, io);
     }},
};

void LogUsage(std::ostream& err) {
    const char* lead = "usage: ";
    for (const LogSubcommand& sub : kLogSubcommands) {
        err << lead << "kestrovane-cli " << sub.usage << "\n";
        lead = "       ";
    }
}

// Loads a run file as the program does; null with its message on standard error when it fails.
// The message about rows left out goes there too, and the run is used all the same.
std::optional<LogRun> LoadForCli(const std::string& path, CliIo io) {
    Parsed<LoadedRunFile> loaded = LoadRunFile(path);
    if (!loaded) {
        io.err << loaded.Error() << "\n";
        return std::nullopt;
    }
    if (loaded->truncated) io.err << RunTruncatedMessage() << "\n";
    return std::move(loaded->run);
}

} // namespace

int RunLogInfo(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.size() != 1) {
        LogUsage(io.err);
        return kExitUsage;
    }
    const std::optional<LogRun> run = LoadForCli(args[0], io);
    if (!run) return kExitFailure;
    io.out << "rows: " << run->RowCount() << "\n";
    io.out << "columns: " << run->ColumnCount() << "\n";
    for (const std::string& header : run->Headers()) io.out << "header: " << header << "\n";
    return kExitOk;
}

int RunLogConvert(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    std::vector<std::string> positional;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size() && out.empty()) {
            out = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1 || out.empty()) {
        LogUsage(io.err);
        return kExitUsage;
    }
    const std::optional<LogRun> run = LoadForCli(positional[0], io);
    if (!run) return kExitFailure;
    const std::string csv = RunCsvText(*run);
    if (const std::string message = SaveFileAtomically(out, std::vector<std::uint8_t>(csv.begin(), csv.end()));
        !message.empty()) {
        io.err << message << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

int RunLogCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
    for (const LogSubcommand& sub : kLogSubcommands) {
        if (!args.empty() && args[0] == sub.name)
            return sub.run(std::vector<std::string>(args.begin() + 1, args.end()), options, io);
    }
    LogUsage(io.err);
    return kExitUsage;
}

} // namespace kv
