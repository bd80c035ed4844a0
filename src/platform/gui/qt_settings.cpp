#include "platform/gui/qt_settings.h"

#include <QStringList>
#include <QVariant>

namespace kv {

namespace {
QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + "/" + QString::fromStdString(key);
}
} // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, "Kestrovane", "Kestrovane") {}

QtSettingsStore::QtSettingsStore(const QString& iniPath) : settings_(iniPath, QSettings::IniFormat) {}

std::string QtSettingsStore::GetSetting(const std::string& section, const std::string& key,
                                        const std::string& defaultValue) {
    const QVariant value = settings_.value(KeyPath(section, key));
    if (!value.isValid()) return defaultValue;
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(",").toStdString();
    return value.toString().toStdString();
}

void QtSettingsStore::SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
    settings_.setValue(KeyPath(section, key), QString::fromStdString(value));
    settings_.sync();
}

} // namespace kv
