#pragma once
// How the map tabs show maps, kept per user (section "Appearance").
#include <string>

namespace kv {

class SettingsStore;

class MapViewSettings {
public:
    explicit MapViewSettings(SettingsStore& settings) : settings_(settings) {}
    // Map cells drawn on the colour scale of their values ("ValueColours", "1" or "0"); on when
    // never set or set to anything else than "0".
    bool ValueColours() const;
    void SetValueColours(bool on);

private:
    SettingsStore& settings_;
};

} // namespace kv
