#pragma once
// Small synthetic images of each unit with known axes, and an editor configured like the map
// tabs do it, for the table editor's tests.
#include "eprom/eprom_image.h"
#include "fake_grid.h"
#include "fakes.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace kv {

namespace maps_test {

inline void Put(std::vector<std::uint8_t>& image, std::size_t address, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) image[address + i] = static_cast<std::uint8_t>(text[i]);
}

// A filler that is never 0xFF and never a letter, so no marker matches by accident.
inline std::vector<std::uint8_t> Filled(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = seed;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(128 + (x >> 16) % 127);
    }
    return image;
}

// LH 2.3 (kind 3): RPM axis steps all 8 (points 128 + 8 i), MAF axis: word 0xF000 at entry 100
// + 17 and MAF steps all 16 (points 65536 - 0xF000 - 16 (15 - i)), warm-up map 6 with a
// four-point axis of steps 10, 20, 30, 40 (points 156, 166, 186, 216).
inline std::vector<std::uint8_t> LH23Bytes() {
    auto image = Filled(16384, 1);
    Put(image, 16368, "MRX-D");
    image[16367] = 8;
    const std::size_t block = 13019;
    for (std::size_t i = 0; i < 16; ++i) image[block + 21 + i] = 8;
    for (std::size_t i = 0; i < 15; ++i) image[block + 2 + i] = 16;
    image[block + 17] = 0xF0;
    image[block + 18] = 0x00;
    image[14112] = 0;
    image[14113] = 4;
    image[14114] = 10;
    image[14115] = 20;
    image[14116] = 30;
    image[14117] = 40;
    return image;
}

// EZK (kind 5): RPM axis tables 1 and 2 with steps 25 and last byte 0 (points 255, 356, 456, ...,
// 1756), compensation table all 4 (entry 32).
inline std::vector<std::uint8_t> EZKBytes(int compensation = 4) {
    auto image = Filled(16384, 2);
    Put(image, 16352, "MRX-D");
    image[16357] = 8;
    for (std::size_t t : {4528u, 4544u, 4560u}) {
        for (std::size_t i = 0; i < 15; ++i) image[t + i] = 25;
        image[t + 15] = 0;
    }
    for (std::size_t i = 0; i < 16; ++i) image[4864 + i] = static_cast<std::uint8_t>(compensation);
    return image;
}

// LH 2.2 (kind 6, 4096 bytes).
inline std::vector<std::uint8_t> LH22Bytes() {
    auto image = Filled(4096, 3);
    image[4057] = 'M';
    image[4058] = 'U';
    image[4059] = 1;
    return image;
}

// EZF (kind 8, 2048 bytes): RPM axis bytes all 196 (points 60 (i + 1)), load axis bytes all 240
// (points 16 (i + 1)).
inline std::vector<std::uint8_t> EZFBytes() {
    auto image = Filled(2048, 4);
    image[1790] = 'M';
    image[1791] = 1;
    for (std::size_t i = 0; i < 16; ++i) image[1634 + i] = 196;
    for (std::size_t i = 0; i < 16; ++i) image[1618 + i] = 240;
    return image;
}

// An image, a grid, scripted dialogs and an editor configured for one listed map and rendered.
class EditorFixture : public ::testing::Test {
protected:
    void Open(const std::vector<std::uint8_t>& bytes, MapTab tab, const std::string& listText) {
        image = std::make_unique<EPROM>(context);
        ASSERT_EQ(image->LoadFromArray(bytes), "");
        editor = std::make_unique<TableEditor>(dialogs, dialogs, dialogs);
        editor->SetEPROM(image.get());
        editor->SetControl(&grid);
        const MapDefinition* definition = FindMapDefinition(tab, listText);
        ASSERT_NE(definition, nullptr) << listText;
        ConfigureEditor(*editor, tab, definition, image->GetECUType());
        editor->OnChangeCellValue([this](int x, int y, std::int32_t v) { changes.emplace_back(x, y, v); });
        editor->RenderTable();
    }
    // Text of a data cell.
    std::string Cell(int row, int col) const { return grid.TextMatrix(grid.FixedRows() + row, col + 1); }
    void Select(int row1, int col1, int row2, int col2) {
        grid.SetCurrentCell(grid.FixedRows() + row1, col1 + 1);
        grid.SetSelectionEnd(grid.FixedRows() + row2, col2 + 1);
    }

    EpromContext context;
    std::unique_ptr<EPROM> image;
    FakeGrid grid;
    ScriptedDialogs dialogs;
    std::unique_ptr<TableEditor> editor;
    std::vector<std::tuple<int, int, std::int32_t>> changes;
};

} // namespace maps_test

} // namespace kv
