#pragma once
// Per-user settings (window layout, view options) through QSettings, by section and key.
#include <filesystem>
#include <memory>
#include <string>

namespace platform {

class SettingsStore {
  public:
    // The user's store of organisation "Marrowfield", application "Kestrune".
    SettingsStore();
    SettingsStore(const std::string& organisation, const std::string& application);
    // A store in one INI file (tests).
    explicit SettingsStore(const std::filesystem::path& iniFile);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") const;
    void SetString(const std::string& section, const std::string& key, const std::string& value);
    // A stored value that is not a whole number reads as fallback.
    int GetInt(const std::string& section, const std::string& key, int fallback = 0) const;
    void SetInt(const std::string& section, const std::string& key, int value);
    bool Contains(const std::string& section, const std::string& key) const;
    void Remove(const std::string& section, const std::string& key);
    // Writes pending changes now (they are also written when the store goes away).
    bool Sync();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
