// kestrovane-cli `diff A B`: compares two images of the same kind map by map, in the values the
// map editor shows, and parameter by parameter; a differing cell is named by its indexes and by
// its axis values. Exit 0 when equal, 3 when they differ, 1 when the
// images cannot be compared.
#include "cli/cli.h"
#include "cli/cli_maps_common.h"
#include "maps/image_compare.h"
#include "maps/rendered_map.h"

#include <ostream>

namespace kv {

namespace {

constexpr int kExitDifferent = 3;

} // namespace

int RunDiffCommand(const std::vector<std::string>& args, const CliOptions&, CliIo io) {
    if (args.size() != 2) {
        io.err << "usage: kestrovane-cli diff A B\n";
        return kExitUsage;
    }
    EpromContext contextA, contextB;
    EPROM a(contextA), b(contextB);
    if (!cli_maps::LoadImage(a, contextA, args[0], io.err) || !cli_maps::LoadImage(b, contextB, args[1], io.err))
        return kExitFailure;
    const Parsed<ImageComparison> comparison = CompareImages(a, b);
    if (!comparison) {
        io.err << comparison.Error() << "\n";
        return kExitFailure;
    }
    for (const auto& map : comparison->maps) {
        const MapDefinition* definition = FindMapDefinition(comparison->tab, map.name);
        const RenderedMap shownA(a, *definition);
        const RenderedMap shownB(b, *definition);
        for (const auto& cell : map.cells) {
            // The indexes first, as scripts read them; then, after a tab, the cell named by its axis
            // values (both images' names when their axes differ there).
            const std::string place = shownA.CellPlace(cell.row, cell.col);
            const std::string otherPlace = shownB.CellPlace(cell.row, cell.col);
            io.out << map.name << " (row " << cell.row << ", col " << cell.col << "): " << cell.text << " -> "
                   << cell.otherText << "\t" << place << (otherPlace == place ? "" : " -> " + otherPlace) << "\n";
        }
    }
    for (const auto& p : comparison->parameters)
        io.out << "PARAMETER " << p.entry << " (address " << p.address << "): " << p.bytes << " -> " << p.otherBytes
               << "\n";
    return comparison->Equal() ? kExitOk : kExitDifferent;
}

} // namespace kv
