#include "maps/image_compare.h"

#include "eprom/eprom_image.h"
#include "maps/rendered_map.h"

#include <algorithm>

namespace kv {

namespace {

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

std::vector<CellDifference> CompareMap(EPROM& a, EPROM& b, const MapDefinition& definition) {
    std::vector<CellDifference> cells;
    RenderedMap mapA(a, definition);
    RenderedMap mapB(b, definition);
    const int rows = std::min(mapA.editor.GetYAxisSize(), mapB.editor.GetYAxisSize());
    const int cols = std::min(mapA.editor.GetXAxisSize(), mapB.editor.GetXAxisSize());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int x = mapA.editor.MapX(c);
            const int y = mapA.editor.MapY(r);
            std::string text = mapA.Cell(r, c);
            std::string otherText = mapB.Cell(r, c);
            if (a.ReadMapCell(definition.mapId, x, y) == b.ReadMapCell(definition.mapId, x, y) && text == otherText)
                continue;
            cells.push_back({r, c, std::move(text), std::move(otherText)});
        }
    }
    return cells;
}

Parsed<ImageComparison> CompareImages(EPROM& a, EPROM& b) {
    if (a.GetKind() != b.GetKind())
        return ParseError{"The images are of different kinds (\"" + a.GetName() + "\" and \"" + b.GetName() +
                          "\") and cannot be compared."};
    ImageComparison result;
    result.tab = MapTabOf(a);
    for (auto name : MapListForImage(a)) {
        const MapDefinition* definition = FindMapDefinition(result.tab, name);
        if (definition == nullptr) continue;
        auto cells = CompareMap(a, b, *definition);
        if (!cells.empty()) result.maps.push_back({std::string(name), std::move(cells)});
    }
    for (const auto& range : kParameterRanges) {
        if (range.ecuType != a.GetECUType()) continue;
        for (int entry = range.first; entry <= range.last; ++entry) {
            const std::int32_t address = a.GetEPROMAddress(entry);
            if (address <= 0) continue;
            const int width = ParameterWidth(entry);
            std::string bytes = Bytes(a, address, width);
            std::string otherBytes = Bytes(b, address, width);
            if (bytes == otherBytes) continue;
            result.parameters.push_back({entry, address, std::move(bytes), std::move(otherBytes)});
        }
    }
    return result;
}

} // namespace kv
