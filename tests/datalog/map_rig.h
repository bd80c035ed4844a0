#pragma once
// An LH 2.3 image with its base fuel map (cat) rendered, and the operating points that fall on
// given fractional grid positions of it: what the cell statistics' tests lay their runs over.
#include "eprom/base_images.h"
#include "maps/rendered_map.h"
#include "monitor/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kv {

struct MapRig {
    static constexpr const char* kMapName = "Base fuel map (cat)";

    MapRig() {
        EXPECT_EQ(LoadBaseImage("MRX_D", image), "");
        definition = FindMapDefinition(MapTab::Fuel, kMapName);
        EXPECT_NE(definition, nullptr);
        map = std::make_unique<RenderedMap>(image, *definition);
    }
    const TableEditor& Editor() const { return map->editor; }
    // The engine speed and MAF signal of the fractional grid point (col, row).
    std::pair<std::string, std::string> At(double col, double row) const {
        const auto& xs = Editor().XAxisPoints();
        const auto& ys = Editor().YAxisPoints();
        const auto between = [](const std::vector<std::int32_t>& p, double at) {
            const auto i = static_cast<std::size_t>(at);
            const double t = at - static_cast<double>(i);
            return t == 0 ? p[i] : p[i] + (p[i + 1] - p[i]) * t;
        };
        const double code = between(xs, col);
        EXPECT_EQ(code, std::floor(code));
        return {std::to_string(conv::LH_RpmFromCode(static_cast<int>(code))),
                std::to_string(static_cast<int>(between(ys, row)))};
    }
    // A cell (row, col), away from the map's edges, whose next grid point along either axis is an
    // even count away: the point half way to it is a whole code, so a sample can lie exactly
    // between four cells.
    std::pair<int, int> EvenStepCell() const {
        const auto evenStep = [](const std::vector<std::int32_t>& p) {
            for (std::size_t i = 2; i + 1 < p.size(); ++i)
                if ((p[i + 1] - p[i]) % 2 == 0) return static_cast<int>(i);
            return -1;
        };
        return {evenStep(Editor().YAxisPoints()), evenStep(Editor().XAxisPoints())};
    }

    EpromContext context;
    EPROM image{context};
    const MapDefinition* definition = nullptr;
    std::unique_ptr<RenderedMap> map;
};

} // namespace kv
