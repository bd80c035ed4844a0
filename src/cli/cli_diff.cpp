// kestrovane-cli `diff A B`: compares two images of the same kind map by map, in the values the
// map editor shows, and parameter by parameter. Exit 0 when equal, 3 when they differ, 1 when the
// images cannot be compared.
#include "cli/cli.h"
#include "cli/cli_maps_common.h"

#include <ostream>

namespace kv {

namespace {

constexpr int kExitDifferent = 3;

// Parameter entries of each ECU type (first, last) and the entries that span more than one byte.
struct ParameterRange {
    EcuType ecuType;
    int first, last;
};
constexpr ParameterRange kParameterRanges[] = {
    {EcuType::LH23, 1, 28}, {EcuType::EZK, 29, 41}, {EcuType::LH22, 42, 54}, {EcuType::EZF, 55, 61}};

int ParameterWidth(int entry) {
    switch (entry) {
    case 11:
    case 12: return 2;  // cranking pulse width words
    case 13: return 18; // injector opening-time table, 9 words
    case 19: return 32; // idle speed table
    case 20: return 4;  // acceleration enrichment per pulse
    case 29:
    case 30:
    case 31: return 16; // EZK rpm axis tables
    case 32: return 16; // EZK rpm compensation table
    default: return 1;
    }
}

std::string Bytes(const EPROM& image, std::int32_t address, int width) {
    std::string text;
    for (int i = 0; i < width; ++i) {
        if (i > 0) text += ' ';
        text += std::to_string(image.ReadByte(address + i));
    }
    return text;
}

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
    if (a.GetKind() != b.GetKind()) {
        io.err << "The images are of different kinds (\"" << a.GetName() << "\" and \"" << b.GetName()
               << "\") and cannot be compared.\n";
        return kExitFailure;
    }
    bool different = false;
    for (auto name : MapListForImage(a)) {
        const MapDefinition* definition = FindMapDefinition(cli_maps::TabOf(a), name);
        if (definition == nullptr) continue;
        cli_maps::RenderedMap mapA(a, *definition);
        cli_maps::RenderedMap mapB(b, *definition);
        const int rows = std::min(mapA.editor.GetYAxisSize(), mapB.editor.GetYAxisSize());
        const int cols = std::min(mapA.editor.GetXAxisSize(), mapB.editor.GetXAxisSize());
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const int x = mapA.editor.MapX(c);
                const int y = mapA.editor.MapY(r);
                const std::string oldText = mapA.Cell(r, c);
                const std::string newText = mapB.Cell(r, c);
                if (a.ReadMapCell(definition->mapId, x, y) == b.ReadMapCell(definition->mapId, x, y) &&
                    oldText == newText)
                    continue;
                io.out << name << " (row " << r << ", col " << c << "): " << oldText << " -> " << newText << "\n";
                different = true;
            }
        }
    }
    for (const auto& range : kParameterRanges) {
        if (range.ecuType != a.GetECUType()) continue;
        for (int entry = range.first; entry <= range.last; ++entry) {
            const std::int32_t address = a.GetEPROMAddress(entry);
            if (address <= 0) continue;
            const int width = ParameterWidth(entry);
            const std::string oldBytes = Bytes(a, address, width);
            const std::string newBytes = Bytes(b, address, width);
            if (oldBytes == newBytes) continue;
            io.out << "PARAMETER " << entry << " (address " << address << "): " << oldBytes << " -> " << newBytes
                   << "\n";
            different = true;
        }
    }
    return different ? kExitDifferent : kExitOk;
}

} // namespace kv
