// kestrovane-cli log ...: run files read by the program's own rules, summarised or written as CSV.
#include "cli/cli_log.h"

#include "cli/cli.h"
#include "cli/cli_maps_common.h"

#include "datalog/log_cells.h"
#include "datalog/run_file.h"
#include "monitor/monitor_record.h"
#include "platform/file_io.h"

#include <charconv>

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
    {"cells", "log cells RUN.txt IMAGE --map NAME [--column HEADER] [--min-count N]", RunLogCells},
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

int RunLogCells(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    std::vector<std::string> positional;
    std::string mapName, column = kCellsDefaultColumn, minCountText = "1";
    bool mapGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string* into = args[i] == "--map"         ? &mapName
                            : args[i] == "--column"    ? &column
                            : args[i] == "--min-count" ? &minCountText
                                                       : nullptr;
        if (into != nullptr && i + 1 < args.size()) {
            mapGiven = mapGiven || into == &mapName;
            *into = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    int minCount = 0;
    const auto [end, ec] = std::from_chars(minCountText.data(), minCountText.data() + minCountText.size(), minCount);
    if (positional.size() != 2 || !mapGiven || ec != std::errc() || end != minCountText.data() + minCountText.size() ||
        minCount < 1) {
        LogUsage(io.err);
        return kExitUsage;
    }
    const std::optional<LogRun> run = LoadForCli(positional[0], io);
    if (!run) return kExitFailure;
    EpromContext context;
    EPROM image(context);
    if (!cli_maps::LoadImage(image, context, positional[1], io.err)) return kExitFailure;
    const MapDefinition* definition = cli_maps::ListedMap(image, mapName);
    if (definition == nullptr) {
        io.err << "Unknown map: \"" << mapName << "\"\n";
        return kExitFailure;
    }
    cli_maps::RenderedMap map(image, *definition);
    const Parsed<CellStatistics> stats = ComputeCellStatistics(*run, map.editor, column);
    if (!stats) {
        io.err << stats.Error() << "\n";
        return kExitFailure;
    }
    // The grid as `map show` prints it: the axis labels of the map, the mean in each cell.
    const int fixedRows = map.grid.FixedRows();
    for (int r = 0; r < map.grid.Rows(); ++r) {
        for (int c = 0; c < map.grid.Cols(); ++c) {
            if (c > 0) io.out << '\t';
            const int row = r - fixedRows, col = c - 1;
            if (row < 0 || col < 0 || row >= stats->rows || col >= stats->cols) {
                io.out << map.grid.TextMatrix(r, c);
                continue;
            }
            const CellStats& cell = stats->At(row, col);
            io.out << (cell.count >= minCount ? FormatNumber(cell.Mean(), "0.0") : "-");
        }
        io.out << "\n";
    }
    io.out << "samples: " << stats->samples << "\n"
           << "cells: " << stats->CellsWith(minCount) << "\n";
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
