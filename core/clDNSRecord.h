#pragma once
// One resource record: what the zone store and the cache hold, what the reply decoder
// produces and what the reply builder encodes. Records are shared, never copied, between the
// store that owns them and the answers built from them (see RecordRef), so a change made through
// an answer (the round-robin counter RoRo) is kept for the next reply.
#include <cstdint>
#include <memory>
#include <string>

#include "core/clock.h"

class clDNSRecord {
  public:
    // Members in their long-standing order.

    // The record never ages (zone records, root hints, hosts entries, DHCP lease records).
    // Set it before writing the TTL.
    bool Permanent = false;
    // Record type: 1 A, 2 NS, 5 CNAME, 6 SOA, 12 PTR, 15 MX, 16 TXT, 33 SRV; in the cache also the
    // negative markers 1000 + t (no data of type t) and 2000 (name does not exist). A full 16-bit
    // wire type is 0 to 65535, a marker up to 66535, so this is wider than 16 bits.
    int32_t RecType = 0;
    // Owner name in the server's text form (lower case, a dot after every label, "." for root).
    std::string Name;
    // Record data in the in-memory form of its type (modDNS.h describes the forms).
    std::string Data;
    // Round-robin start offset of a run of address records in replies; 0 when new.
    int32_t RoRo = 0;
    // The moment the record expires, in days since 1899-12-30 (UTC).
    double mTimeOut = 0;
    // The TTL as last written, in seconds.
    int32_t mTTL = 0;

    // Property TTL, write: stores ttl in mTTL and sets mTimeOut to now + 2000 days for a permanent
    // record, else to now + ttl / 86400 days.
    void SetTTL(int32_t ttl, double now);
    void SetTTL(int32_t ttl, const kest::IClock& clock) { SetTTL(ttl, clock.Now()); }

    // Property TTL, read: mTTL for a permanent record; otherwise the remaining seconds
    // (mTimeOut - now) * 86400 rounded to the nearest integer, halves to even (negative once
    // expired), clamped to the 32-bit range.
    int32_t TTL(double now) const;
    int32_t TTL(const kest::IClock& clock) const { return TTL(clock.Now()); }

    // SectionAdd's equality: same Name, Data and RecType, compared byte for byte.
    bool SameAs(const clDNSRecord& other) const {
        return RecType == other.RecType && Name == other.Name && Data == other.Data;
    }
};

// The shared reference in which records travel between stores and answers.
using RecordRef = std::shared_ptr<clDNSRecord>;

// A new record (convenience for creators): Permanent is set before the TTL is written at now.
RecordRef MakeRecord(std::string name, int32_t recType, std::string data, int32_t ttl, double now,
                     bool permanent = false);
