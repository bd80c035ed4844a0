#include "maps/map_keys.h"

#include "maps/table_editor.h"

namespace {

// Max knock retard maps: their cells are degrees of retard, rising with the stored byte.
bool IsKnockRetardMap(int mapId) { return mapId >= 25 && mapId <= 27; }

int Swapped(int key) {
    switch (key) {
    case 'q': return 'a';
    case 'a': return 'q';
    case 'w': return 's';
    case 's': return 'w';
    default: return key;
    }
}

} // namespace

int MapKeyToEditorCode(MapTab tab, int mapId, bool atOperatingPoint, int key) {
    int letter = key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key;
    if (tab == MapTab::Ignition) {
        if (letter != 'q' && letter != 'a' && letter != 'w' && letter != 's') return key;
        if (!IsKnockRetardMap(mapId)) letter = Swapped(letter);
    }
    using TE = TableEditor;
    switch (letter) {
    case 'q': return atOperatingPoint ? TE::BOGUSKEY_INC1OP : TE::BOGUSKEY_INC1SEL;
    case 'a': return atOperatingPoint ? TE::BOGUSKEY_DEC1OP : TE::BOGUSKEY_DEC1SEL;
    case 'w': return atOperatingPoint ? TE::BOGUSKEY_INC2OP : TE::BOGUSKEY_INC2SEL;
    case 's': return atOperatingPoint ? TE::BOGUSKEY_DEC2OP : TE::BOGUSKEY_DEC2SEL;
    case 'e': return atOperatingPoint ? TE::BOGUSKEY_INCPOP : TE::BOGUSKEY_INCPSEL;
    case 'd': return atOperatingPoint ? TE::BOGUSKEY_DECPOP : TE::BOGUSKEY_DECPSEL;
    default: return key;
    }
}
