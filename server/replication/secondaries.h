#pragma once
// The store's side of secondary zones: the once-a-minute check, the primary's SOA serial, a
// received transfer written to the zone file, expiry, and the zone timer file zonettl.dat.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSRecord.h"
#include "server/authority/clDNSAuthData.h"
#include "server/replication/ctlZTS.h"

namespace modReplication {

// RFC 1982: true when received is a later serial than held (a serial that wrapped past 2^32
// is still later).
bool SerialNewer(uint32_t received, uint32_t held);

// Adds records in order to a zone that holds none, with the same result as AddRec one by one
// (records of one name keep the order AddRec gives them), in n log n.
void AddRecords(clZone& zone, const std::vector<RecordRef>& records);

class clSecondaries {
  public:
    static constexpr const char* kZoneTimerFile = "zonettl.dat";

    clSecondaries(clDNSAuthData& store, ctlZTS& client);

    void CheckSecondaries();
    // The serial of the SOA the primary of the client's zone answered with.
    void GotSOA(uint32_t serial);
    void GotZTransfer(const std::string& zoneName, std::vector<RecordRef> records);
    void ExpireZone(clZone& zone);
    // Rewrites data/zonettl.dat when the store holds a zone; false when it could not.
    bool SaveZoneTTL();
    // Saves when a secondary zone's lifetime changed since the last save (or was never saved).
    void SaveZoneTTLIfChanged();
    // The file's lines as they would be written now.
    std::vector<std::string> ZoneTTLLines() const;

  private:
    std::string LifetimeKey() const;

    clDNSAuthData& store_;
    ctlZTS& client_;
    std::string savedKey_;
    bool saved_ = false;
};

}  // namespace modReplication
