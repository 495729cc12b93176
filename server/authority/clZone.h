#pragma once
// One zone held authoritatively: its replication settings, SOA timers and its records, sorted by
// owner name so that the records of one name lie together and are found by a binary search.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSAnswer.h"
#include "core/clDNSRecord.h"

class clZone {
  public:
    // Members in their long-standing order.
    std::string Name;  // fully qualified with trailing dot, "." for the root; keeps the file's case
    // SOA numbers are unsigned 32-bit everywhere; the three timers are 300 until an SOA is read.
    uint32_t SOASerial = 0;
    uint32_t SOARefresh = 300;
    uint32_t SOARetry = 300;
    uint32_t SOAExpire = 300;
    std::vector<std::string> Slaves;  // secondaries to notify (dotted addresses), in file order
    bool Secure = true;               // false with the "; NOTSECURE" line: anyone may transfer
    std::string PrimaryIP;            // the primary's address for a secondary zone; empty otherwise
    double Expires = 0;               // when a secondary copy stops being served (days, UTC)
    double NextRefresh = 0;           // when a secondary copy is next checked (days, UTC)
    RecordList Records;               // sorted by Name, ascending bytewise
    double FILETIME = 0;   // master directory file time (master list zones only); 0 otherwise
    bool Checked = false;  // seen in the current master list pass

    // 1-based position of the first record named exactly name, 0 when there is none.
    int FindRec(std::string_view name) const;
    // Inserts rec by the placement rule: front when its name is <= the first record's, end when
    // >= the last record's, else directly before the first record whose name is >= its own. So
    // within one name the file order is not always kept. A null rec is ignored.
    void AddRec(RecordRef rec);

    // The records named exactly name, in store order (convenience over FindRec).
    std::vector<RecordRef> RecordsNamed(std::string_view name) const;
};

// The two searches over a list sorted by a name key, shared by the zone list and record lists.
// key(i) gives the name of the 1-based entry i. Bytewise comparison, no case folding.
namespace modAuth {

// 1-based position of the first entry equal to name, or 0.
template <class KeyAt>
int BinaryFind(int count, std::string_view name, KeyAt key) {
    if (count <= 0 || key(1) > name) return 0;
    int low = 1, high = count;
    if (key(count) < name) return 0;
    while (low != high) {
        const int mid = low + (high - low) / 2;
        if (key(mid) < name)
            low = mid + 1;
        else
            high = mid;
    }
    return key(low) == name ? low : 0;
}

// The 0-based index at which a new entry named name goes (the placement rule above).
template <class KeyAt>
int InsertIndex(int count, std::string_view name, KeyAt key) {
    if (count <= 0) return 0;
    if (key(1) >= name) return 0;
    int low = 1, high = count;
    if (key(count) <= name) return count;
    while (high - low >= 2) {
        const int mid = low + (high - low) / 2;
        if (key(mid) < name)
            low = mid;
        else
            high = mid;
    }
    return low;  // directly after 1-based entry low
}

}  // namespace modAuth
