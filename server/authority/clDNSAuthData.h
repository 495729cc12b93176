#pragma once
// The zone store: every zone the server holds authoritatively, and the one place that answers
// questions with authority. The resolver asks it first for every client question, the cache asks
// it whether a name lies in an own zone, start-up and the reload port load and unload zones.
//
// The replication methods (zone transfers, secondary refresh, notifications, master list) live
// with the replication component, which attaches itself through IAuthReplication; the store only
// forwards the entry points that request intake and the reload port call.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSAnswer.h"
#include "core/clock.h"
#include "server/authority/clZone.h"
#include "server/settings.h"

#include "server/activity_log.h"

class clLeases;

// What replication provides to the store's entry points. Until one is attached the entry points
// do nothing.
class IAuthReplication {
  public:
    virtual ~IAuthReplication() = default;
    // Sends change notifications for a zone to its secondaries.
    virtual void Notify(const std::string& zoneName) = 0;
    // Answers a received NOTIFY (sender, sender's port, zone name, the whole message).
    virtual void ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                            const std::string& message) = 0;
};

// The host's status text and event pump, used while all zones load. Any of them may be empty.
struct AuthHostHooks {
    std::function<std::string()> getStatus;
    std::function<void(const std::string&)> setStatus;
    std::function<void()> pump;  // lets pending events run once
};

class clDNSAuthData {
  public:
    using LogFn = std::function<void(int kind, std::string_view text)>;
    using ZoneList = std::vector<std::shared_ptr<clZone>>;

    // dataDir is the program's data folder (zone files and zonettl.dat).
    clDNSAuthData(const modMain::Settings& settings, const kest::IClock& clock, LogFn log,
                  const clLeases& leases, std::filesystem::path dataDir, AuthHostHooks hooks = {});
    clDNSAuthData(const modMain::Settings& settings, const kest::IClock& clock,
                  modMain::ActivityLog& log, const clLeases& leases, std::filesystem::path dataDir,
                  AuthHostHooks hooks = {})
        : clDNSAuthData(
              settings, clock, [&log](int kind, std::string_view text) { log.AddLine(kind, text); },
              leases, std::move(dataDir), std::move(hooks)) {}
    clDNSAuthData(const clDNSAuthData&) = delete;
    clDNSAuthData& operator=(const clDNSAuthData&) = delete;

    // ---- Answers -------------------------------------------------------------------------------
    // The authoritative answer for a question (name in store form: lower case, trailing dot).
    // AA false with empty sections: the name lies in no own zone. A referral (NS in the authority
    // section, glue in the additional) has AA false too. With quick set the SOA or NS records of
    // the zone are not added. Zones without records (expired secondaries) are passed over.
    clDNSAnswer Ask(const std::string& name, int32_t type, bool quick);
    // True when the name lies in an own zone and not at or below a delegation inside it.
    bool AskAuth(const std::string& name);
    // The zone's PrimaryIP; empty when there is no such zone (or it is a primary zone).
    std::string ZonePrimIP(const std::string& zoneName);
    // True when the zone exists and holds no record.
    bool ZoneExpired(const std::string& zoneName);

    // ---- The zone list -------------------------------------------------------------------------
    // Inserts the zone in name order; a zone of the same name is replaced (one zone per name).
    void ZoneAdd(std::shared_ptr<clZone> zone);
    // 1-based position of the zone of that exact name, 0 when absent.
    int ZoneFind(std::string_view zoneName) const;
    // The zone of that exact name, or null.
    std::shared_ptr<clZone> GetZone(std::string_view zoneName) const;
    const ZoneList& Zones() const { return zones_; }
    // Removes a zone without a log line (replication, master list); true when there was one.
    bool ZoneRemove(std::string_view zoneName);

    // ---- Loading -------------------------------------------------------------------------------
    // Empties the store and loads every zone file of the data folder, with the secondary zones'
    // remaining lifetimes from zonettl.dat less the file's age.
    void LoadAll();
    // (Re)loads one zone from its file. secondsToExpiry sets Expires; masterFileTime is the master
    // directory file time, kNoFileTime for none. False when the file could not be read (the zone
    // is then absent: a copy loaded before has been removed).
    static constexpr double kNoFileTime = 2;  // 1900-01-01 00:00
    bool LoadZone(const std::string& zoneName, double secondsToExpiry,
                  double masterFileTime = kNoFileTime);
    // Logs "Removing Zone: " and removes the zone; nothing when it is not loaded.
    void UnloadZone(const std::string& zoneName);
    // Seconds until the loaded zone expires, 0 when it is not loaded. The reload port passes this
    // to LoadZone so that reloading a secondary zone keeps its lifetime.
    double ZoneLifetime(const std::string& zoneName) const;
    // LoadZone with the loaded copy's lifetime and no master file time (the reload command).
    bool ReloadZone(const std::string& zoneName);

    // The zone file of a zone: its name by the file naming rule, with its ".dns" ending in any
    // case.
    std::filesystem::path ZoneFilePath(const std::string& zoneName) const;
    const std::filesystem::path& DataDir() const { return dataDir_; }

    // ---- Replication entry points --------------------------------------------------------------
    void SetReplication(IAuthReplication* replication) { replication_ = replication; }
    IAuthReplication* Replication() const { return replication_; }
    // Forwarded to the attached replication component; nothing without one.
    void Notify(const std::string& zoneName);
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                    const std::string& message);

    const modMain::Settings& Settings() const { return settings_; }
    const kest::IClock& Clock() const { return clock_; }
    void AddLine(int kind, std::string_view text) const;

  private:
    // The closest enclosing zone of name; with skipEmpty zones without records are passed over.
    std::shared_ptr<clZone> FindZone(const std::string& name, bool skipEmpty) const;

    const modMain::Settings& settings_;
    const kest::IClock& clock_;
    LogFn log_;
    const clLeases& leases_;
    std::filesystem::path dataDir_;
    AuthHostHooks hooks_;
    IAuthReplication* replication_ = nullptr;
    ZoneList zones_;
};
