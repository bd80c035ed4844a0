#include "maps/map_definitions.h"

#include "eprom/eprom_image.h"
#include "maps/table_editor.h"

#include <array>

namespace kv {

namespace {

using TE = TableEditor;
constexpr YAxisType kOneRow = YAxisType::None;
constexpr DataType kFuel = DataType::FuelValue;

constexpr std::string_view kH1 = "Valid range of values for map: -128 to 127. \r\n"
                                 "Changing a cell value by 1 changes fueling by about 0.2%.";
constexpr std::string_view kH2 = "Valid range of values for map: 0 to 255. \r\n"
                                 "Changing a cell value by 1 changes fueling by about 0.6%.";
constexpr std::string_view kH3 = "Valid range of values for map: 0 to 255. \r\n"
                                 "Changing a cell value by 1 changes fueling by about 0.8%.";
constexpr std::string_view kH4 = "Valid range of values for map: 0 to 255. \r\n"
                                 "Changing a cell value by 1 changes fueling by about 4%. A value of 0 means the "
                                 "pulse width will be as defined on the Parameters tab.";
constexpr std::string_view kH5 = "Valid range of values for map: 0 to 255.";
constexpr std::string_view kH6 = "Valid range of values for map: -512 to 511.";
constexpr std::string_view kH7 = "Valid range of values for map: 0 to 255.\r\n"
                                 "Changing a cell value by 1 changes fueling by about 0.7%.";

constexpr std::string_view kRpm = "RPM";
constexpr std::string_view kMaf = "MAF";
constexpr std::string_view kCoolant = "Coolant temperature";
constexpr std::string_view kNone = "";

// Fuel maps: shown as stored plus the offset; factors are single-precision fractions.
// clang-format off
constexpr std::array<MapDefinition, 17> kFuelMaps{{
    // list text                           id  X axis           Y axis                data   offset  min  max  factor         thr act X caption Y caption help
    {"Base fuel map (cat)",                 1, TE::MAPRPMAXIS,  TE::MAPMAFAXIS,       kFuel, -128, -128, 127, 1.0f / 512,     -1,  1, kRpm,     kMaf,  kH1},
    {"Base fuel map (non-cat)",             2, TE::MAPRPMAXIS,  TE::MAPMAFAXIS,       kFuel, -128, -128, 127, 1.0f / 512,     -1,  0, kRpm,     kMaf,  kH1},
    {"Base fuel map ",                      1, TE::MAPRPMAXIS,  TE::MAPMAFAXIS,       kFuel, -128, -128, 127, 1.0f / 512,     -1, -1, kRpm,     kMaf,  kH1},
    {"WOT enrichment map (cat)",            4, TE::RPMAXIS,     kOneRow,              kFuel,    0,    0, 255, 0.8f / 128,      2,  1, kRpm,     kNone, kH2},
    {"WOT enrichment map (non-cat)",        5, TE::RPMAXIS,     kOneRow,              kFuel,    0,    0, 255, 0.8f / 128,      2,  0, kRpm,     kNone, kH2},
    {"WOT enrichment map ",                 4, TE::RPMAXIS,     kOneRow,              kFuel, -128,    0, 127, 1.0f / 128,      2, -1, kRpm,     kNone, kH3},
    {"Warmup enrichment map (cat)",         6, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.8f / 128,     -1,  1, kCoolant, kNone, kH2},
    {"Warmup enrichment map (non-cat)",     7, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.8f / 128,     -1,  0, kCoolant, kNone, kH2},
    {"Warmup enrichment map ",              6, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 1.0f / 128,     -1, -1, kCoolant, kNone, kH3},
    {"Acceleration enrichment (cat)",      10, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.0f,           -1,  1, kCoolant, kNone, kH5},
    {"Acceleration enrichment (non-cat)",  11, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.0f,           -1,  0, kCoolant, kNone, kH5},
    {"Cranking fuel map",                  12, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 287.0f / 256,   -2, -1, kCoolant, kNone, kH4},
    {"Base fuel map",                      28, TE::MAPRPMAXIS,  TE::MAPMAFAXIS_LH22,  kFuel, -512, -512, 511, 1.0f / 512,     -1, -1, kRpm,     kMaf,  kH6},
    {"WOT enrichment map",                 29, TE::RPMAXIS,     kOneRow,              kFuel,    0,    0, 255, 0.9f / 128,     -1, -1, kRpm,     kNone, kH7},
    {"Warmup enrichment map",              30, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.9f / 128,     -1, -1, kCoolant, kNone, kH7},
    {"Acceleration enrichment",            31, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.0f,           -1, -1, kCoolant, kNone, kH5},
    {"Cranking fuel map ",                 32, TE::COOLANTAXIS, kOneRow,              kFuel,    0,    0, 255, 0.04f,          -1, -1, kCoolant, kNone, kH4},
}};

// Ignition maps: offset 0, factor 1/512; no help text.
constexpr float kIgnFactor = 1.0f / 512;
constexpr std::array<MapDefinition, 23> kIgnitionMaps{{
    // list text                                               id  X axis                    Y axis           data type            off min  max  factor     thr act X caption              Y caption      help
    {"Warmup compensation map (cruise)",                       13, TE::IGNCOOLANTAXIS,       kOneRow,        TE::DATAIGNREL,       0,   0, 176, kIgnFactor,  1, -1, kCoolant,              kNone,         kNone},
    {"Warmup compensation map (idle)",                         14, TE::IGNCOOLANTAXIS,       kOneRow,        TE::DATAIGNREL,       0,   0, 176, kIgnFactor,  0, -1, kCoolant,              kNone,         kNone},
    {"Warmup compensation map (WOT)",                          15, TE::IGNCOOLANTAXIS,       kOneRow,        TE::DATAIGNREL,       0,   0, 176, kIgnFactor,  2, -1, kCoolant,              kNone,         kNone},
    {"Cruise map (98 octane non-cat)",                         16, TE::IGNRPMAXIS1,          TE::IGNLOADAXIS, TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  1,  0, kRpm,                  "Load",        kNone},
    {"Cruise map (98 octane cat)",                             17, TE::IGNRPMAXIS1,          TE::IGNLOADAXIS, TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  1,  4, kRpm,                  "Load",        kNone},
    {"Cruise map (91 octane)",                                 18, TE::IGNRPMAXIS1,          TE::IGNLOADAXIS, TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  1,  8, kRpm,                  "Load",        kNone},
    {"Idle map (98 octane non-cat)",                           19, TE::IGNRPMAXIS3,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  0,  0, kRpm,                  kNone,         kNone},
    {"Idle map (98 octane cat)",                               20, TE::IGNRPMAXIS3,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  0,  4, kRpm,                  kNone,         kNone},
    {"Idle map (91 octame)",                                   21, TE::IGNRPMAXIS3,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  0,  8, kRpm,                  kNone,         kNone},
    {"WOT map (98 octane non-cat)",                            22, TE::IGNRPMAXIS1,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  2,  0, kRpm,                  kNone,         kNone},
    {"WOT map (98 octane cat)",                                23, TE::IGNRPMAXIS1,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  2,  4, kRpm,                  kNone,         kNone},
    {"WOT map (91 octane)",                                    24, TE::IGNRPMAXIS1,          kOneRow,        TE::DATAIGNABS,       0,  16, 176, kIgnFactor,  2,  8, kRpm,                  kNone,         kNone},
    {"Max knock retard (98 octane non-cat)",                   25, TE::IGNRPMAXIS2,          kOneRow,        TE::DATAIGNDEGS,      0,   0,  54, kIgnFactor, -1,  0, kRpm,                  kNone,         kNone},
    {"Max knock retard (98 octane cat)",                       26, TE::IGNRPMAXIS2,          kOneRow,        TE::DATAIGNDEGS,      0,   0,  54, kIgnFactor, -1,  4, kRpm,                  kNone,         kNone},
    {"Max knock retard (91 octane)",                           27, TE::IGNRPMAXIS2,          kOneRow,        TE::DATAIGNDEGS,      0,   0,  54, kIgnFactor, -1,  8, kRpm,                  kNone,         kNone},
    {"Cruise map",                                             33, TE::EZFRPMAXIS,           TE::EZFLOADAXIS, TE::DATAIGNABSEZF,    0,   1, 144, kIgnFactor,  1, -1, kRpm,                  "Vac [inHg]",  kNone},
    {"Idle map",                                               34, TE::EZFRPMAXIS,           kOneRow,        TE::DATAIGNABSEZF,    0,   1, 144, kIgnFactor,  0, -1, kRpm,                  kNone,         kNone},
    {"WOT map",                                                35, TE::EZFRPMAXIS,           kOneRow,        TE::DATAIGNABSEZF,    0,   1, 144, kIgnFactor,  2, -1, kRpm,                  kNone,         kNone},
    {"Air temperature compensation map (high load cruise)",    36, TE::EZFAIRTEMPAXISCRUISE, kOneRow,        TE::DATAIGNRELEZF,    0,   0,  20, kIgnFactor,  1, -1, "Air temperature",     kNone,         kNone},
    {"Air temperature compensation map (WOT)",                 37, TE::EZFAIRTEMPAXISWOT,    kOneRow,        TE::DATAIGNRELEZF,    0,   0,  20, kIgnFactor,  2, -1, "Air temperature",     kNone,         kNone},
    {"Warmup compensation map (idle) ",                        38, TE::EZFCOOLANTAXISIDLE,   kOneRow,        TE::DATAIGNRELEZF,    0, -20,  -1, kIgnFactor,  0, -1, kCoolant,              kNone,         kNone},
    {"Warmup compensation map (cruise) ",                      39, TE::EZFCOOLANTAXISCRUISE, kOneRow,        TE::DATAIGNRELEZF,    0, -20,  -1, kIgnFactor,  1, -1, kCoolant,              kNone,         kNone},
    {"Warmup compensation map (WOT) ",                         40, TE::EZFCOOLANTAXISWOT,    kOneRow,        TE::DATAIGNRELEZF,    0, -20,  -1, kIgnFactor,  2, -1, kCoolant,              kNone,         kNone},
}};
// clang-format on

// The lists, in list order.
constexpr std::array<std::string_view, 9> kListLH23Creator1{
    "Base fuel map (cat)",           "Base fuel map (non-cat)",           "WOT enrichment map (cat)",
    "WOT enrichment map (non-cat)",  "Warmup enrichment map (cat)",       "Warmup enrichment map (non-cat)",
    "Acceleration enrichment (cat)", "Acceleration enrichment (non-cat)", "Cranking fuel map"};
constexpr std::array<std::string_view, 3> kListLH23Creator2{"Base fuel map ", "WOT enrichment map ",
                                                            "Warmup enrichment map "};
constexpr std::array<std::string_view, 5> kListLH22{"Base fuel map", "WOT enrichment map", "Warmup enrichment map",
                                                    "Acceleration enrichment", "Cranking fuel map "};
constexpr std::array<std::string_view, 15> kListEZK{"Cruise map (98 octane cat)",
                                                    "Cruise map (98 octane non-cat)",
                                                    "Cruise map (91 octane)",
                                                    "Idle map (98 octane cat)",
                                                    "Idle map (98 octane non-cat)",
                                                    "Idle map (91 octame)",
                                                    "WOT map (98 octane cat)",
                                                    "WOT map (98 octane non-cat)",
                                                    "WOT map (91 octane)",
                                                    "Warmup compensation map (idle)",
                                                    "Warmup compensation map (cruise)",
                                                    "Warmup compensation map (WOT)",
                                                    "Max knock retard (98 octane non-cat)",
                                                    "Max knock retard (98 octane cat)",
                                                    "Max knock retard (91 octane)"};
constexpr std::array<std::string_view, 8> kListEZF{"Cruise map",
                                                   "Idle map",
                                                   "WOT map",
                                                   "Air temperature compensation map (high load cruise)",
                                                   "Air temperature compensation map (WOT)",
                                                   "Warmup compensation map (idle) ",
                                                   "Warmup compensation map (cruise) ",
                                                   "Warmup compensation map (WOT) "};

constexpr MapButtonSet kFuelButtons{
    1, 10, "Increase value(s) by 1", "Decrease value(s) by 1", "Increase value(s) by 10", "Decrease value(s) by 10"};
constexpr MapButtonSet kEZKButtons{1,
                                   8,
                                   "Increase value(s) by 0.4 degrees",
                                   "Decrease value(s) by 0.4 degrees",
                                   "Increase value(s) by 3 degrees",
                                   "Decrease value(s) by 3 degrees"};
constexpr MapButtonSet kEZFButtons{4,
                                   8,
                                   "Increase value(s) by 1.8 degrees",
                                   "Decrease value(s) by 1.8 degrees",
                                   "Increase value(s) by 3.6 degrees",
                                   "Decrease value(s) by 3.6 degrees"};

template <std::size_t N>
std::vector<std::string_view> ToVector(const std::array<std::string_view, N>& list) {
    return {list.begin(), list.end()};
}

} // namespace

std::vector<std::string_view> MapListTexts(MapTab tab, EcuType ecuType, int creator) {
    if (tab == MapTab::Fuel) {
        if (ecuType == EcuType::LH23) return creator == 2 ? ToVector(kListLH23Creator2) : ToVector(kListLH23Creator1);
        if (ecuType == EcuType::LH22) return ToVector(kListLH22);
        return {};
    }
    if (ecuType == EcuType::EZK) return ToVector(kListEZK);
    if (ecuType == EcuType::EZF) return ToVector(kListEZF);
    return {};
}

std::vector<std::string_view> MapListTexts(MapTab tab, const EPROM& image) {
    return MapListTexts(tab, image.GetECUType(), image.GetCreator());
}

std::vector<std::string_view> MapListForImage(const EPROM& image) {
    auto fuel = MapListTexts(MapTab::Fuel, image);
    return fuel.empty() ? MapListTexts(MapTab::Ignition, image) : fuel;
}

std::span<const MapDefinition> MapDefinitions(MapTab tab) {
    if (tab == MapTab::Fuel) return kFuelMaps;
    return kIgnitionMaps;
}

const MapDefinition* FindMapDefinition(MapTab tab, std::string_view text) {
    for (const auto& d : MapDefinitions(tab))
        if (d.listText == text) return &d;
    return nullptr;
}

const MapButtonSet* MapButtons(MapTab tab, EcuType ecuType) {
    if (tab == MapTab::Fuel) return &kFuelButtons;
    if (ecuType == EcuType::EZK) return &kEZKButtons;
    if (ecuType == EcuType::EZF) return &kEZFButtons;
    return nullptr;
}

bool IsMapUsed(MapTab tab, int activeCode, bool lhCatSelected, int ezkMapSetByte) {
    if (activeCode == -1) return true;
    if (tab == MapTab::Fuel) return activeCode == (lhCatSelected ? 1 : 0);
    return activeCode == (ezkMapSetByte & 255);
}

void ConfigureEditor(TableEditor& editor, MapTab tab, const MapDefinition* definition, EcuType ecuType) {
    if (const MapButtonSet* buttons = MapButtons(tab, ecuType)) {
        editor.SetIncdec1StepSize(buttons->step1);
        editor.SetIncdec2StepSize(buttons->step2);
    }
    if (definition == nullptr) {
        editor.SetMap(0);
        return;
    }
    editor.SetMap(definition->mapId);
    editor.SetCellMinValue(definition->minValue);
    editor.SetCellMaxValue(definition->maxValue);
    editor.SetCellValueOffset(definition->offset);
    editor.SetCellFactor(definition->factor);
    editor.SetXAxisType(definition->xAxisType);
    editor.SetYAxisType(definition->yAxisType);
    editor.SetRequiredThrottlePos(definition->requiredThrottlePos);
    editor.SetDataType(definition->dataType);
}

} // namespace kv
