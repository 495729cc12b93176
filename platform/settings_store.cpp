#include "platform/settings_store.h"

#include <QSettings>

namespace platform {
namespace {

QString Key(const std::string& section, const std::string& key) {
    return QString::fromStdString(section + "/" + key);
}

}  // namespace

struct SettingsStore::Impl {
    QSettings settings;
    Impl(const QString& organisation, const QString& application)
        : settings(QSettings::IniFormat, QSettings::UserScope, organisation, application) {}
    explicit Impl(const QString& file) : settings(file, QSettings::IniFormat) {}
};

SettingsStore::SettingsStore() : SettingsStore("Marrowfield", "Kestrune") {}

SettingsStore::SettingsStore(const std::string& organisation, const std::string& application)
    : impl_(std::make_unique<Impl>(QString::fromStdString(organisation),
                                   QString::fromStdString(application))) {}

SettingsStore::SettingsStore(const std::filesystem::path& iniFile)
    : impl_(std::make_unique<Impl>(QString::fromStdString(iniFile.string()))) {}

SettingsStore::~SettingsStore() = default;

std::string SettingsStore::GetString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const {
    const QVariant v = impl_->settings.value(Key(section, key));
    return v.isValid() ? v.toString().toStdString() : fallback;
}

void SettingsStore::SetString(const std::string& section, const std::string& key,
                              const std::string& value) {
    impl_->settings.setValue(Key(section, key), QString::fromStdString(value));
}

int SettingsStore::GetInt(const std::string& section, const std::string& key, int fallback) const {
    const QVariant v = impl_->settings.value(Key(section, key));
    if (!v.isValid()) return fallback;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : fallback;
}

void SettingsStore::SetInt(const std::string& section, const std::string& key, int value) {
    impl_->settings.setValue(Key(section, key), value);
}

bool SettingsStore::Contains(const std::string& section, const std::string& key) const {
    return impl_->settings.contains(Key(section, key));
}

void SettingsStore::Remove(const std::string& section, const std::string& key) {
    impl_->settings.remove(Key(section, key));
}

bool SettingsStore::Sync() {
    impl_->settings.sync();
    return impl_->settings.status() == QSettings::NoError;
}

}  // namespace platform
