#pragma once
// Keeping the zones equal to the zone files of a master directory: new and changed files are
// copied into the data folder and loaded, zones without a file there are removed. The master
// files' times are kept in ml.dat across restarts.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "server/authority/clDNSAuthData.h"

namespace modReplication {

class clMasterList {
  public:
    static constexpr const char* kFileName = "ml.dat";

    // programDir holds ml.dat; pump lets pending events run (may be empty).
    clMasterList(clDNSAuthData& store, std::filesystem::path programDir,
                 std::function<void()> pump = {});

    // When the last pass started (days, UTC); 0 before the first.
    double LastSync = 0;
    // True when MasterSync minutes (at least 1) have passed since the last pass.
    bool Due() const;

    void MLSync();
    void MLLoad();
    bool MLSave();
    // Saves when a zone's master file time changed since the last save.
    void MLSaveIfChanged();
    std::vector<std::string> Lines() const;
    std::filesystem::path File() const { return programDir_ / kFileName; }

  private:
    std::string Key() const;
    double ToLocal(double utc) const;
    double FromLocal(double local) const;

    clDNSAuthData& store_;
    std::filesystem::path programDir_;
    std::function<void()> pump_;
    std::string savedKey_;
    bool saved_ = false;
};

}  // namespace modReplication
