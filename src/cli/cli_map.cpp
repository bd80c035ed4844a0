// kestrovane-cli `map list|show|set`: the map lists and grids of an image as the map editor
// shows them, and typing one cell.
#include "cli/cli.h"
#include "cli/cli_maps_common.h"
#include "eprom/base_images.h"
#include "platform/parsed.h"

#include <charconv>
#include <ostream>

namespace kv {

namespace {

void MapUsage(std::ostream& err) {
    err << "usage: kestrovane-cli map list FILE\n"
           "       kestrovane-cli map show FILE NAME\n"
           "       kestrovane-cli map set FILE NAME ROW COL TEXT -o OUT\n";
}

Parsed<int> ParseIndex(const std::string& s) {
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0)
        return ParseError{"\"" + s + "\" is not a row or column number"};
    return v;
}

int UnknownMap(const std::string& name, std::ostream& err) {
    err << "Unknown map: \"" << name << "\"\n";
    return kExitFailure;
}

int List(const std::vector<std::string>& args, CliIo io) {
    if (args.size() != 2) return MapUsage(io.err), kExitUsage;
    EpromContext context;
    EPROM image(context);
    if (!cli_maps::LoadImage(image, context, args[1], io.err)) return kExitFailure;
    for (auto text : MapListForImage(image)) io.out << text << "\n";
    return kExitOk;
}

int Show(const std::vector<std::string>& args, CliIo io) {
    if (args.size() != 3) return MapUsage(io.err), kExitUsage;
    EpromContext context;
    EPROM image(context);
    if (!cli_maps::LoadImage(image, context, args[1], io.err)) return kExitFailure;
    const MapDefinition* definition = cli_maps::ListedMap(image, args[2]);
    if (definition == nullptr) return UnknownMap(args[2], io.err);
    cli_maps::RenderedMap map(image, *definition);
    if (map.editor.GetXAxisSize() == 0 || map.editor.GetYAxisSize() == 0) {
        io.err << "The map \"" << args[2] << "\" is empty\n";
        return kExitFailure;
    }
    for (int r = 0; r < map.grid.Rows(); ++r) {
        for (int c = 0; c < map.grid.Cols(); ++c) {
            if (c > 0) io.out << '\t';
            io.out << map.grid.TextMatrix(r, c);
        }
        io.out << "\n";
    }
    return kExitOk;
}

int Set(const std::vector<std::string>& args, CliIo io) {
    if (args.size() != 8 || args[6] != "-o" || args[7].empty()) return MapUsage(io.err), kExitUsage;
    const auto row = ParseIndex(args[3]);
    const auto col = ParseIndex(args[4]);
    if (!row || !col) return MapUsage(io.err), kExitUsage;
    EpromContext context;
    EPROM image(context);
    if (!cli_maps::LoadImage(image, context, args[1], io.err)) return kExitFailure;
    // Only images the program would keep as they are: older kinds have no map addresses (a cell
    // write would land in the program code) and later ones may lay their maps out differently.
    if (DecideRevision(image) != RevisionDecision::Keep)
        return io.err << "The image must be upgraded first (kestrovane-cli image upgrade)\n", kExitFailure;
    const MapDefinition* definition = cli_maps::ListedMap(image, args[2]);
    if (definition == nullptr) return UnknownMap(args[2], io.err);
    cli_maps::RenderedMap map(image, *definition);
    if (*row >= map.editor.GetYAxisSize() || *col >= map.editor.GetXAxisSize()) {
        io.err << "Cell (" << *row << ", " << *col << ") is outside the map (" << map.editor.GetYAxisSize() << " rows, "
               << map.editor.GetXAxisSize() << " columns)\n";
        return kExitFailure;
    }
    const auto value = map.editor.TypedTextToValue(args[5], *col);
    if (!value) {
        io.err << "Invalid value!\n";
        return kExitFailure;
    }
    map.editor.SetCellValue(*row, *col, *value);
    if (!image.SaveToFile(args[7], image.GetFileFormat())) {
        io.err << image.LastSaveError() << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int RunMapCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.empty()) return MapUsage(io.err), kExitUsage;
    if (args[0] == "list") return List(args, io);
    if (args[0] == "show") return Show(args, io);
    if (args[0] == "set") return Set(args, io);
    MapUsage(io.err);
    return kExitUsage;
}

} // namespace kv
