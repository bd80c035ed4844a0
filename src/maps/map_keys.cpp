#include "maps/map_keys.h"

namespace kv {

namespace {

// Max knock retard maps: their cells are degrees of retard, rising with the stored byte.
bool IsKnockRetardMap(int mapId) { return mapId >= 25 && mapId <= 27; }

char Swapped(char key) {
    switch (key) {
    case 'q': return 'a';
    case 'a': return 'q';
    case 'w': return 's';
    case 's': return 'w';
    default: return key;
    }
}

} // namespace

std::optional<EditOp> MapKeyToEditOp(MapTab tab, int mapId, bool atOperatingPoint, char key) {
    char letter = key >= 'A' && key <= 'Z' ? static_cast<char>(key - 'A' + 'a') : key;
    if (tab == MapTab::Ignition) {
        if (letter != 'q' && letter != 'a' && letter != 'w' && letter != 's') return std::nullopt;
        if (!IsKnockRetardMap(mapId)) letter = Swapped(letter);
    }
    switch (letter) {
    case 'q': return atOperatingPoint ? EditOp::INC1OP : EditOp::INC1SEL;
    case 'a': return atOperatingPoint ? EditOp::DEC1OP : EditOp::DEC1SEL;
    case 'w': return atOperatingPoint ? EditOp::INC2OP : EditOp::INC2SEL;
    case 's': return atOperatingPoint ? EditOp::DEC2OP : EditOp::DEC2SEL;
    case 'e': return atOperatingPoint ? EditOp::INCPOP : EditOp::INCPSEL;
    case 'd': return atOperatingPoint ? EditOp::DECPOP : EditOp::DECPSEL;
    default: return std::nullopt;
    }
}

} // namespace kv
