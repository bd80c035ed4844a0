#pragma once
// Per-user settings store: string values addressed by section and key under the application
// name "Kestrovane". Each key is read and written only by the module that owns it.
#include <string>

namespace kv {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value, or `defaultValue` when the key is missing.
    virtual std::string GetSetting(const std::string& section, const std::string& key,
                                   const std::string& defaultValue = {}) = 0;
    virtual void SaveSetting(const std::string& section, const std::string& key, const std::string& value) = 0;
};

} // namespace kv
