#pragma once
// SettingsStore on QSettings: organisation and application "Kestrovane", one group per
// section (the registry on Windows, an INI file under the user's config folder on Linux).
#include "platform/settings_store.h"

#include <QSettings>
#include <QString>

namespace kv {

class QtSettingsStore final : public SettingsStore {
public:
    // The per-user store of the program (native format).
    QtSettingsStore();
    // An INI file at `iniPath` (tests and portable set-ups).
    explicit QtSettingsStore(const QString& iniPath);

    // A value that is not plain text (for example a hand-edited INI line "a,b" that QSettings
    // reads as a list) is returned as its text form ("a,b"), never dropped.
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) override;
    // Written through at once, so a crash later loses nothing.
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override;

private:
    QSettings settings_;
};

} // namespace kv
