// The comparison of two images that the command-line diff and the window's comparison share.
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "fake_grid.h"
#include "fakes.h"
#include "maps/image_compare.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>

namespace kv {

namespace {

using Cell = std::tuple<std::string, int, int>; // map, data row, data column

struct Loaded {
    explicit Loaded(const std::string& base) : image(std::make_unique<EPROM>(context)) {
        EXPECT_EQ(LoadBaseImage(base, *image), "") << base;
        context.wordBigEndian = image->GetCreator() != 2;
    }
    EpromContext context;
    std::unique_ptr<EPROM> image;
};

// An editor rendering one map of an image into a grid of its own, as the map tabs configure it.
struct Editor {
    Editor(EPROM& image, MapTab tab, const MapDefinition& definition) : editor(dialogs, dialogs, dialogs) {
        editor.SetEPROM(&image);
        editor.SetControl(&grid);
        ConfigureEditor(editor, tab, &definition, image.GetECUType());
        editor.RenderTable();
    }
    std::string Text(int row, int col) const { return grid.TextMatrix(grid.FixedRows() + row, grid.FixedCols() + col); }
    ScriptedDialogs dialogs;
    FakeGrid grid;
    TableEditor editor;
};

std::set<Cell> Marked(const ImageComparison& comparison) {
    std::set<Cell> cells;
    for (const auto& map : comparison.maps)
        for (const auto& c : map.cells) cells.insert({map.name, c.row, c.col});
    return cells;
}

} // namespace

TEST(ImageCompare, MarksExactlyTheCellsWhereTheBaseImagesDiffer) {
    struct Case {
        const char* first;
        const char* second;
    };
    const Case cases[] = {{"EZK_D-S4", "EZK_D-GTS"}, {"EZK_D-S4", "EZK_D-S4-SUPERMAF"}, {"MRX_D", "MRX_D-SUPERMAF"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " vs " + c.second);
        Loaded a(c.first), b(c.second);
        const MapTab tab = a.image->GetECUFunction() == 2 ? MapTab::Ignition : MapTab::Fuel;
        // The expected cells, from each image's own editor: the stored cell and the shown value.
        std::set<Cell> expected;
        std::size_t total = 0;
        for (auto name : MapListForImage(*a.image)) {
            const MapDefinition* definition = FindMapDefinition(tab, name);
            ASSERT_NE(definition, nullptr);
            Editor ea(*a.image, tab, *definition), eb(*b.image, tab, *definition);
            for (int r = 0; r < ea.editor.GetYAxisSize(); ++r) {
                for (int col = 0; col < ea.editor.GetXAxisSize(); ++col) {
                    ++total;
                    const int x = ea.editor.MapX(col), y = ea.editor.MapY(r);
                    if (a.image->ReadMapCell(definition->mapId, x, y) !=
                            b.image->ReadMapCell(definition->mapId, x, y) ||
                        ea.editor.GetCellValue(r, col) != eb.editor.GetCellValue(r, col))
                        expected.insert({std::string(name), r, col});
                }
            }
        }
        const Parsed<ImageComparison> comparison = CompareImages(*a.image, *b.image);
        ASSERT_TRUE(comparison) << comparison.Error();
        EXPECT_EQ(comparison->tab, tab);
        EXPECT_EQ(Marked(*comparison), expected);
        // Each map is listed once, with its cells in row then column order.
        std::set<std::string> names;
        for (const auto& map : comparison->maps) {
            EXPECT_TRUE(names.insert(map.name).second) << map.name;
            EXPECT_TRUE(std::is_sorted(map.cells.begin(), map.cells.end(), [](const auto& l, const auto& r) {
                return std::pair(l.row, l.col) < std::pair(r.row, r.col);
            })) << map.name;
        }
        if (std::string(c.first) == "EZK_D-S4" && std::string(c.second) == "EZK_D-GTS") {
            EXPECT_FALSE(expected.empty());
            EXPECT_LT(expected.size(), total);
        }
        // The shown texts are the ones each image's editor shows.
        for (const auto& map : comparison->maps) {
            const MapDefinition* definition = FindMapDefinition(tab, map.name);
            Editor ea(*a.image, tab, *definition), eb(*b.image, tab, *definition);
            for (const auto& cell : map.cells) {
                EXPECT_EQ(cell.text, ea.Text(cell.row, cell.col)) << map.name;
                EXPECT_EQ(cell.otherText, eb.Text(cell.row, cell.col)) << map.name;
            }
        }
    }
}

TEST(ImageCompare, FindsOneEditedCellWhereTheEditorPutIt) {
    struct Case {
        const char* base;
        MapTab tab;
        const char* map;
        int row, col;
    };
    // Maps with reversed axes too: the cell is found in the grid's coordinates, not the map's.
    std::vector<Case> cases;
    for (const char* base : {"MRX_D", "EZK_D-S4"}) {
        Loaded probe(base);
        const MapTab tab = probe.image->GetECUFunction() == 2 ? MapTab::Ignition : MapTab::Fuel;
        for (auto name : MapListForImage(*probe.image)) {
            const MapDefinition* definition = FindMapDefinition(tab, name);
            Editor e(*probe.image, tab, *definition);
            if (e.editor.GetXAxisSize() == 0 || e.editor.GetYAxisSize() == 0) continue;
            cases.push_back({base, tab, definition->listText.data(), e.editor.GetYAxisSize() - 1, 0});
            cases.push_back({base, tab, definition->listText.data(), 0, e.editor.GetXAxisSize() - 1});
        }
    }
    ASSERT_GT(cases.size(), 4u);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " " + c.map + " row " + std::to_string(c.row) + " col " +
                     std::to_string(c.col));
        Loaded a(c.base), b(c.base);
        const MapDefinition* definition = FindMapDefinition(c.tab, c.map);
        ASSERT_NE(definition, nullptr);
        std::string before, after;
        {
            Editor e(*b.image, c.tab, *definition);
            before = e.Text(c.row, c.col);
            const std::int32_t value = e.editor.GetCellValue(c.row, c.col);
            const std::int32_t changed = value == e.editor.GetCellMinValue() ? value + 1 : value - 1;
            e.editor.SetCellValue(c.row, c.col, changed);
            after = e.Text(c.row, c.col);
        }
        ASSERT_NE(before, after);
        const Parsed<ImageComparison> comparison = CompareImages(*a.image, *b.image);
        ASSERT_TRUE(comparison);
        EXPECT_TRUE(comparison->parameters.empty());
        ASSERT_EQ(comparison->maps.size(), 1u);
        EXPECT_EQ(comparison->maps[0].name, std::string(definition->listText));
        EXPECT_EQ(comparison->maps[0].cells, (std::vector<CellDifference>{{c.row, c.col, before, after}}));
        EXPECT_EQ(CompareMap(*a.image, *b.image, *definition), comparison->maps[0].cells);
    }
}

TEST(ImageCompare, FindsTheBytesOfAnEditedParameterEntry) {
    struct Case {
        const char* base;
        int entry;
        int byte; // which byte of the entry is changed
        int width;
    };
    const Case cases[] = {{"MRX_D", 1, 0, 1},
                          {"MRX_D", 13, 17, 18},
                          {"MRX_D", 19, 5, 32},
                          {"EZK_D-S4", 32, 15, 16},
                          {"EZK_D-S4", 41, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " entry " + std::to_string(c.entry));
        Loaded a(c.base), b(c.base);
        const std::int32_t address = b.image->GetEPROMAddress(c.entry);
        ASSERT_GT(address, 0);
        const std::uint8_t old = b.image->ReadByte(address + c.byte);
        b.image->WriteByte(address + c.byte, static_cast<std::uint8_t>(old ^ 0x01));
        const Parsed<ImageComparison> comparison = CompareImages(*a.image, *b.image);
        ASSERT_TRUE(comparison);
        ASSERT_EQ(comparison->parameters.size(), 1u);
        const ParameterDifference& p = comparison->parameters[0];
        EXPECT_EQ(p.entry, c.entry);
        EXPECT_EQ(p.address, address);
        auto split = [](const std::string& text) {
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (;;) {
                const std::size_t blank = text.find(' ', start);
                parts.push_back(text.substr(start, blank - start));
                if (blank == std::string::npos) return parts;
                start = blank + 1;
            }
        };
        const auto bytes = split(p.bytes), otherBytes = split(p.otherBytes);
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(c.width));
        ASSERT_EQ(otherBytes.size(), static_cast<std::size_t>(c.width));
        for (int i = 0; i < c.width; ++i) {
            const auto at = static_cast<std::size_t>(i);
            EXPECT_EQ(bytes[at], std::to_string(a.image->ReadByte(address + i))) << i;
            EXPECT_EQ(otherBytes[at] != bytes[at], i == c.byte) << i;
        }
    }
}

TEST(ImageCompare, RefusesImagesOfDifferentKindsAndFindsNothingInEqualImages) {
    Loaded lh("MRX_D"), ezk("EZK_D-S4"), same("EZK_D-S4");
    const Parsed<ImageComparison> refused = CompareImages(*lh.image, *ezk.image);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.Error(), "The images are of different kinds (\"" + lh.image->GetName() + "\" and \"" +
                                   ezk.image->GetName() + "\") and cannot be compared.");
    const Parsed<ImageComparison> equal = CompareImages(*ezk.image, *same.image);
    ASSERT_TRUE(equal);
    EXPECT_TRUE(equal->Equal());
}

} // namespace kv
