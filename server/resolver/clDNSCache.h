#pragma once
// The record cache: what the server learnt from other name servers, each record until its TTL
// runs out, plus permanent records (root hints, hosts file) and negative markers (type 1000 + t:
// the name has no records of type t; 2000: the name does not exist; Data is the zone whose cached
// SOA justified them).
//
// The records form one list sorted by name (ordinal byte order, no case folding); records of one
// name lie together, in no further order. Positions are 1-based. The list is
// held in blocks of at most 512 slots, so an insertion or removal moves a few hundred slots
// rather than the whole list; the binary search runs over the blocks' last names, then inside
// one block. Each slot keeps the first eight bytes of its name as a big-endian integer next to
// the shared record, so the searches compare integers in contiguous memory and touch a record
// only when two names share those eight bytes. Cached records are shared with the answers built
// from them; nobody may rename a record while the cache holds it.
//
// Single-threaded, like the whole server.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSAnswer.h"
#include "core/clDNSRecord.h"
#include "core/clock.h"
#include "server/settings.h"

class clLeases;

class clDNSCache {
  public:
    // True when a name lies in an own zone and not below a delegation (the zone store's AskAuth).
    using AuthCheck = std::function<bool(const std::string& name)>;

    // Negative marker types.
    static constexpr int32_t kNoDataBase = 1000;  // 1000 + t
    static constexpr int32_t kNameError = 2000;
    // Longest life of a negative marker, in seconds.
    static constexpr int32_t kMaxMarkerTTL = 604800;

    // settings.CacheTTL is read at every CacheAdd. leases may be null (no DHCP names); authCheck
    // may be empty (no own zones).
    clDNSCache(const modMain::Settings& settings, const kest::IClock& clock,
               const clLeases* leases = nullptr, AuthCheck authCheck = {});

    void SetLeases(const clLeases* leases) { leases_ = leases; }
    void SetAuthCheck(AuthCheck authCheck) { authCheck_ = std::move(authCheck); }

    // ---- Public operations ----
    // An answer from the cache: DHCP names, the valid records of the name (a CNAME ends the
    // walk), a negative marker with its SOA, then (unless quickie) the closest cached NS records
    // in the authority section with their addresses as additional records.
    clDNSAnswer Ask(const std::string& reqName, int32_t reqType, bool quickie);
    // Caches what a decoded reply teaches (nothing for a truncated one).
    void CacheAdd(const clDNSAnswer& answer);
    // Removes some expired records: at most Count() / 600 + 1 are examined per call.
    void Purge();
    // Records in the list, permanent ones included.
    int32_t Count() const { return static_cast<int32_t>(count_); }
    // Removes every non-permanent record.
    void ClearCache();
    // Removes every record named zone whose Data equals server (a lame delegation's NS).
    void RemoveNS(const std::string& zone, const std::string& server);

    // ---- Internal operations, public for the cache files and the tests ----
    // Adds every A record of name to the additional section (expiry is not checked).
    void AddAddl(clDNSAnswer& answer, const std::string& name);
    // Makes room for records of (name, type); false when the name holds a permanent record.
    bool CRemRec(const std::string& name, int32_t recType);
    // Position of the first record of name, 0 when there is none.
    size_t FindRec(std::string_view name) const;
    // Inserts a record by the insert rule (before the records of its name, except after them
    // when its name is the list's last and not its first).
    void AddRec(RecordRef rec);
    // The position after which a record of name goes; 0 means the front.
    size_t RecordPos(std::string_view name) const;

    // The record at a 1-based position (null outside the list).
    RecordRef Record(size_t pos) const;
    // Every record in list order (for writing the cache file).
    std::vector<RecordRef> Records() const;
    // Removes every permanent record (before the permanent set is loaded anew).
    void RemovePermanent();
    // The purge cursor (1-based, 0 before the first purge).
    int32_t PurgeCursor() const { return cursor_; }

  private:
    struct Slot {
        uint64_t key;  // first eight bytes of the name, big-endian, zero-padded
        RecordRef rec;
    };
    using Block = std::vector<Slot>;
    // A place in the list: block and index inside it; b == blocks_.size() is the end.
    struct Pos {
        size_t b = 0, i = 0;
    };
    static constexpr size_t kBlockMax = 512;

    static uint64_t KeyOf(std::string_view name);
    // <0, 0, >0 as slot's name compares with name (key = KeyOf(name)).
    static int Compare(const Slot& slot, uint64_t key, std::string_view name);

    bool AtEnd(Pos p) const { return p.b >= blocks_.size(); }
    const Slot& At(Pos p) const { return blocks_[p.b][p.i]; }
    void Next(Pos& p) const {
        if (++p.i >= blocks_[p.b].size()) p = {p.b + 1, 0};
    }
    // Whether p holds a record of that name.
    bool NameAt(Pos p, uint64_t key, std::string_view name) const {
        return !AtEnd(p) && Compare(At(p), key, name) == 0;
    }
    // The first slot whose name is not less than name (the end when there is none).
    Pos LowerBound(uint64_t key, std::string_view name) const;
    // The first record of name, or the end.
    Pos Find(std::string_view name) const;
    // 1-based position of p and back; the end is count + 1.
    size_t NumberOf(Pos p) const;
    Pos PosOf(size_t number) const;
    void InsertAt(Pos p, Slot slot);
    // Removes the slot at p; p then holds the slot that followed it.
    void EraseAt(Pos& p);
    // Keeps the slots that pass keep, packed into fresh blocks.
    template <class Keep>
    void Filter(Keep keep);

    const modMain::Settings& settings_;
    const kest::IClock& clock_;
    const clLeases* leases_;
    AuthCheck authCheck_;
    std::vector<Block> blocks_;  // never an empty block
    size_t count_ = 0;
    int32_t cursor_ = 0;
};
