#include "maps/map_view_settings.h"

#include "platform/settings_store.h"

namespace kv {

namespace {
constexpr const char* kSection = "Appearance";
constexpr const char* kValueColours = "ValueColours";
} // namespace

bool MapViewSettings::ValueColours() const { return settings_.GetSetting(kSection, kValueColours, "1") != "0"; }

void MapViewSettings::SetValueColours(bool on) { settings_.SaveSetting(kSection, kValueColours, on ? "1" : "0"); }

} // namespace kv
