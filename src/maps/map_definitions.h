#pragma once
// Map display definitions: for every map of every unit, the text it is listed under and how the
// table editor is configured for it (map id, axis and data types, offset, limits, percentage
// factor, steps, throttle position, active condition, captions, help text). Held as a table;
// the lists of the fuel and ignition tabs are derived from it by the image's ECU type.
#include "eprom/ecu_type.h"
#include "maps/axis_types.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class EPROM;
class TableEditor;

enum class MapTab { Fuel, Ignition };

struct MapDefinition {
    std::string_view listText; // exact entry of the map list, trailing blanks included
    int mapId;
    XAxisType xAxisType;
    YAxisType yAxisType; // None = one row
    DataType dataType;   // FuelValue for fuel maps
    int offset;          // shown value = stored value + offset
    int minValue;
    int maxValue;
    float factor;            // fuelling fraction per unit of shown value; 0 = no percentage changes
    int requiredThrottlePos; // -1 any, 0 idle, 1 part load, 2 full load, -2 never
    int activeCode;          // -1 always; fuel: 1 cat, 0 non-cat; EZK: map-set byte 0, 4 or 8
    std::string_view xCaption;
    std::string_view yCaption;
    std::string_view helpText;
};

// Step sizes and tool tips of the step buttons, per tab and unit.
struct MapButtonSet {
    int step1;
    int step2;
    std::string_view inc1Tip, dec1Tip, inc2Tip, dec2Tip;
};

// The entries of a tab's map list for an image of the given ECU type and creator, in list order;
// empty for an image without maps of that tab.
std::vector<std::string_view> MapListTexts(MapTab tab, EcuType ecuType, int creator);
std::vector<std::string_view> MapListTexts(MapTab tab, const EPROM& image);
// Both tabs' lists in one: the list of the image's own tab (fuel for LH, ignition for EZK/EZF).
std::vector<std::string_view> MapListForImage(const EPROM& image);

// The definition listed under `text` on the tab (exact match, trailing blanks count); null if
// none.
const MapDefinition* FindMapDefinition(MapTab tab, std::string_view text);
// Every definition of the tab, in table order.
std::span<const MapDefinition> MapDefinitions(MapTab tab);

// Step sizes and tool tips for the tab's buttons; for the ignition tab by ECU type (EZK or EZF);
// null for an ignition image of another type (the editor keeps its defaults).
const MapButtonSet* MapButtons(MapTab tab, EcuType ecuType);
// Tool tips of the two percentage buttons of the fuel tab.
inline constexpr std::string_view kIncPercentTip = "Increase value(s) by a given percentage";
inline constexpr std::string_view kDecPercentTip = "Decrease value(s) by a given percentage";

// Warning caption of a map the unit does not use.
inline constexpr std::string_view kMapNotUsedWarning = "Warning! This map is not being used by the ECU!";

// Whether the unit uses the map. Fuel tab: code 1 when the LH map-set selection is "cat", 0 when
// it is "non-cat". Ignition tab: code equal to the EZK's live map-set byte. -1 always.
bool IsMapUsed(MapTab tab, int activeCode, bool lhCatSelected, int ezkMapSetByte);

// Configures a fresh editor for the map in the order the map tabs use: step sizes (ignition:
// only for EZK and EZF images), map, limits, offset, factor, axis types, throttle position,
// data type. A null definition configures map 0 (an empty grid). Does not render.
void ConfigureEditor(TableEditor& editor, MapTab tab, const MapDefinition* definition, EcuType ecuType);

} // namespace kv
