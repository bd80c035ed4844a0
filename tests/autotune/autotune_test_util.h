#pragma once
// An autotune on a base image's fuel map in a fake grid, with a host that records what the main
// window was asked to do.
#include "autotune/autotune.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "fake_grid.h"
#include "fakes.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv::autotune_test {

class RecordingHost final : public AutotuneHost {
public:
    bool FuelMapTabSelected() override { return fuelTabSelected; }
    void SetMapSelectorEnabled(bool enabled) override { selectorEnabled = enabled; }
    void ResetOperatingPointMarker(TableEditor& editor) override {
        ++markerResets;
        editor.SetOperatingPointControls(nullptr, nullptr);
    }
    void RunningChanged(bool running) override { runs.push_back(running); }
    bool fuelTabSelected = true;
    std::vector<bool> runs; // RunningChanged calls
    bool selectorEnabled = true;
    int markerResets = 0;
};

class AutotuneFixture : public ::testing::Test {
protected:
    // Loads a base image and shows the listed map in the editor (not yet opened by autotune).
    void Show(const std::string& baseImage, const std::string& listText) {
        image = std::make_unique<EPROM>(context);
        ASSERT_EQ(LoadBaseImage(baseImage, *image), "");
        ShowMap(listText);
    }
    void ShowMap(const std::string& listText) {
        mapName = listText;
        grid = FakeGrid(); // a new map starts with white cells
        editor = std::make_unique<TableEditor>(dialogs, dialogs, dialogs);
        editor->SetEPROM(image.get());
        editor->SetControl(&grid);
        const MapDefinition* definition = FindMapDefinition(MapTab::Fuel, listText);
        ASSERT_NE(definition, nullptr) << listText;
        ConfigureEditor(*editor, MapTab::Fuel, definition, image->GetECUType());
        editor->RenderTable();
        tune = std::make_unique<Autotune>(dialogs, settings, host, clock);
    }
    // Shows and opens a base fuel map and starts the run.
    void Run(const std::string& baseImage, const std::string& listText) {
        Show(baseImage, listText);
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
    }

    // One trace tick later (the trace's 100 ms), `s` comes in.
    void Feed(const AutotuneSampleData& s) {
        clock.SleepMs(kTickMs);
        tune->Sample(s);
    }
    // `n` ticks of the same sample.
    void Hold(const AutotuneSampleData& s, int n) {
        for (int i = 0; i < n; ++i) Feed(s);
    }
    // The samples of a run that come before the transport delay (0.3 s) has passed: the gas at
    // the sensor was burnt before the run.
    static constexpr int kLeadIn = 3;
    static constexpr std::int64_t kTickMs = 100;

    // A warm, running engine at the grid point of a data cell.
    AutotuneSampleData At(int row, int col, float afr, AutotuneZone zone, bool transient = false) const {
        AutotuneSampleData s;
        s.x = editor->XAxisPoints()[static_cast<std::size_t>(col)];
        s.y = editor->YAxisPoints()[static_cast<std::size_t>(row)];
        s.afr = afr;
        s.zone = static_cast<int>(zone);
        s.transient = transient;
        s.rpm = 2500;
        s.coolantC = 85;
        return s;
    }
    std::optional<CellState> State(int row, int col) { return CellStateOfColour(editor->GetCellColor(row, col)); }
    std::int32_t Value(int row, int col) const { return editor->GetCellValue(row, col); }

    FakeClock clock;
    EpromContext context;
    std::unique_ptr<EPROM> image;
    FakeGrid grid;
    ScriptedDialogs dialogs;
    MemorySettings settings;
    RecordingHost host;
    std::string mapName;
    std::unique_ptr<TableEditor> editor;
    std::unique_ptr<Autotune> tune;
};

} // namespace kv::autotune_test
