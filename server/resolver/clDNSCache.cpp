#include "server/resolver/clDNSCache.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "server/dhcp/clLease.h"

namespace {

constexpr int32_t kTypeA = modDNS::kTypeA;
constexpr int32_t kTypeNS = modDNS::kTypeNS;
constexpr int32_t kTypeCNAME = modDNS::kTypeCNAME;
constexpr int32_t kTypeSOA = modDNS::kTypeSOA;
constexpr int32_t kTypePTR = modDNS::kTypePTR;
constexpr int32_t kTypeMX = modDNS::kTypeMX;
constexpr int32_t kTypeSRV = modDNS::kTypeSRV;
constexpr int32_t kTypeANY = modDNS::kTypeANY;

bool Valid(const clDNSRecord& rec, double now) {
    return !(rec.mTimeOut < now);
}

// The SOA's MINIMUM, the last four bytes of its data, as the marker's TTL.
int32_t MarkerTTL(const clDNSRecord& soa) {
    if (soa.Data.size() < 4) return 0;
    std::string_view tail(soa.Data);
    tail.remove_prefix(tail.size() - 4);
    const int32_t minimum = modDNS::ExtractLong(tail, false);
    return std::clamp(minimum, 0, clDNSCache::kMaxMarkerTTL);
}

}  // namespace

clDNSCache::clDNSCache(const modMain::Settings& settings, const kest::IClock& clock,
                       const clLeases* leases, AuthCheck authCheck)
    : settings_(settings), clock_(clock), leases_(leases), authCheck_(std::move(authCheck)) {}

uint64_t clDNSCache::KeyOf(std::string_view name) {
    uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i) {
        key <<= 8;
        if (i < name.size()) key |= static_cast<unsigned char>(name[i]);
    }
    return key;
}

int clDNSCache::Compare(const Slot& slot, uint64_t key, std::string_view name) {
    if (slot.key != key) return slot.key < key ? -1 : 1;
    // Equal keys: the names agree in their first eight bytes (names hold no 0 byte).
    const int c = std::string_view(slot.rec->Name).compare(name);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void clDNSCache::EraseAt(size_t index) {
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(index));
}

RecordRef clDNSCache::Record(size_t pos) const {
    if (pos == 0 || pos > slots_.size()) return nullptr;
    return slots_[pos - 1].rec;
}

size_t clDNSCache::FindRec(std::string_view name) const {
    try {
        const uint64_t key = KeyOf(name);
        if (slots_.empty() || Compare(slots_.front(), key, name) > 0) return 0;
        size_t low = 1, high = slots_.size();
        if (Compare(slots_.back(), key, name) < 0) return 0;
        while (low != high) {
            const size_t mid = low + (high - low) / 2;
            if (Compare(slots_[mid - 1], key, name) < 0)
                low = mid + 1;
            else
                high = mid;
        }
        return Compare(slots_[low - 1], key, name) == 0 ? low : 0;
    } catch (...) {
        kest::ReportError("clDNSCache FindRec");
        return 0;
    }
}

size_t clDNSCache::RecordPos(std::string_view name) const {
    try {
        if (slots_.empty()) return 0;
        const uint64_t key = KeyOf(name);
        if (Compare(slots_.front(), key, name) >= 0) return 0;
        size_t low = 1, high = slots_.size();
        if (Compare(slots_.back(), key, name) <= 0) return high;
        while (high - low >= 2) {
            const size_t mid = low + (high - low) / 2;
            if (Compare(slots_[mid - 1], key, name) < 0)
                low = mid;
            else
                high = mid;
        }
        return low;
    } catch (...) {
        kest::ReportError("clDNSCache RecordPos");
        return 0;
    }
}

void clDNSCache::AddRec(RecordRef rec) {
    try {
        if (!rec) return;
        Slot slot{KeyOf(rec->Name), std::move(rec)};
        if (slots_.empty()) {
            slots_.push_back(std::move(slot));
            return;
        }
        const size_t pos = RecordPos(slot.rec->Name);
        slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(slot));
    } catch (...) {
        kest::ReportError("clDNSCache AddRec");
    }
}

bool clDNSCache::CRemRec(const std::string& name, int32_t recType) {
    try {
        const int32_t base =
            (recType > kNoDataBase && recType < kNameError) ? recType - kNoDataBase : recType;
        const size_t first = FindRec(name);
        if (first == 0) return true;
        const uint64_t key = KeyOf(name);
        size_t i = first - 1;
        while (NameAt(i, key, name)) {
            const clDNSRecord& rec = *slots_[i].rec;
            if (rec.Permanent) return false;
            const int32_t t = rec.RecType;
            if (t == kNameError || base == kNameError || t == base || t == base + kNoDataBase)
                EraseAt(i);
            else
                ++i;
        }
        return true;
    } catch (...) {
        kest::ReportError("clDNSCache CRemRec");
        return false;
    }
}

void clDNSCache::CacheAdd(const clDNSAnswer& answer) {
    try {
        if (answer.TC) return;
        const double now = clock_.Now();

        std::vector<RecordRef> work;
        auto takeAll = [&] {
            for (const RecordList* sec : {&answer.Section2, &answer.Section3, &answer.Section4})
                for (const RecordRef& r : *sec)
                    // Types from 1000 on would read as negative markers.
                    if (r && r->RecType >= 0 && r->RecType < kNoDataBase) work.push_back(r);
        };
        if (!answer.Section2.empty() && answer.RCode != 3) {
            takeAll();
        } else if (answer.Section2.empty() && answer.Section3.size() == 1 && answer.Section3[0] &&
                   answer.Section3[0]->RecType == kTypeSOA) {
            // A marker only when nothing was answered: a name error after a CNAME is the
            // target's, not the question name's.
            const RecordRef& soa = answer.Section3[0];
            if (!answer.RqName.empty()) {
                const int32_t type = answer.RCode == 3 ? kNameError : answer.RqType + kNoDataBase;
                work.push_back(MakeRecord(answer.RqName, type, soa->Name, MarkerTTL(*soa), now));
            }
            work.push_back(soa);
        } else if (answer.RCode != 3) {
            takeAll();
        } else {
            return;
        }

        // Groups of (name, type) in the order of their first record.
        std::vector<size_t> order(work.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const int c = work[a]->Name.compare(work[b]->Name);
            if (c != 0) return c < 0;
            return work[a]->RecType < work[b]->RecType;
        });
        struct Group {
            size_t begin, end;  // range in order
        };
        std::vector<Group> groups;
        for (size_t i = 0; i < order.size();) {
            size_t j = i + 1;
            while (j < order.size() && work[order[j]]->Name == work[order[i]]->Name &&
                   work[order[j]]->RecType == work[order[i]]->RecType)
                ++j;
            groups.push_back({i, j});
            i = j;
        }
        std::sort(groups.begin(), groups.end(),
                  [&](const Group& a, const Group& b) { return order[a.begin] < order[b.begin]; });

        const int32_t minTTL = settings_.CacheTTL;
        for (const Group& g : groups) {
            const clDNSRecord& head = *work[order[g.begin]];
            const std::string name = head.Name;
            const int32_t type = head.RecType;
            if (authCheck_ && authCheck_(name)) continue;
            if (!CRemRec(name, type)) continue;
            std::vector<const clDNSRecord*> stored;
            for (size_t k = g.begin; k < g.end; ++k) {
                const RecordRef& rec = work[order[k]];
                if (!(rec->mTimeOut > now)) continue;
                // A reply often repeats a record (an answer again as additional data).
                if (std::any_of(stored.begin(), stored.end(),
                                [&](const clDNSRecord* s) { return s->SameAs(*rec); }))
                    continue;
                if (rec->TTL(now) < minTTL) rec->SetTTL(minTTL, now);
                stored.push_back(rec.get());
                AddRec(rec);
            }
        }
    } catch (...) {
        kest::ReportError("clDNSCache CacheAdd");
    }
}

void clDNSCache::AddAddl(clDNSAnswer& answer, const std::string& name) {
    try {
        const size_t first = FindRec(name);
        if (first == 0) return;
        const uint64_t key = KeyOf(name);
        for (size_t i = first - 1; NameAt(i, key, name); ++i)
            if (slots_[i].rec->RecType == kTypeA) answer.SectionAdd(4, slots_[i].rec);
    } catch (...) {
        kest::ReportError("clDNSCache AddAddl");
    }
}

clDNSAnswer clDNSCache::Ask(const std::string& reqName, int32_t reqType, bool quickie) {
    clDNSAnswer answer;
    try {
        const double now = clock_.Now();

        if (leases_ && !leases_->Empty()) {
            if (reqType == kTypeA || reqType == kTypeANY) {
                for (const clLease* l : leases_->ValidByName(reqName))
                    answer.SectionAdd(
                        2, MakeRecord(reqName, kTypeA, modIP::IPToData(l->IPaddr), 0, now, true));
            }
            if (reqType == kTypePTR || reqType == kTypeANY) {
                const std::string ip = modIP::ArpaToIP(reqName);
                for (const clLease* l : leases_->ValidByAddress(ip))
                    answer.SectionAdd(2,
                                      MakeRecord(reqName, kTypePTR, l->ClientName, 0, now, true));
            }
        }

        const uint64_t key = KeyOf(reqName);
        if (const size_t first = FindRec(reqName); first != 0) {
            for (size_t i = first - 1; NameAt(i, key, reqName); ++i) {
                const RecordRef& rec = slots_[i].rec;
                if (!Valid(*rec, now)) continue;
                const int32_t t = rec->RecType;
                if (reqType == kTypeANY && t < kNoDataBase) {
                    answer.Section2.push_back(rec);
                } else if (t == reqType) {
                    answer.Section2.push_back(rec);
                    if (reqType == kTypeMX && rec->Data.size() > 2)
                        AddAddl(answer, rec->Data.substr(2));
                    else if (reqType == kTypeSRV && rec->Data.size() > 6)
                        AddAddl(answer, rec->Data.substr(6));
                } else if (t == kTypeCNAME) {
                    answer.Section2.push_back(rec);
                    break;
                } else if (t == reqType + kNoDataBase || t == kNameError) {
                    if (quickie) {
                        answer.RCode = 3;
                        return answer;
                    }
                    if (t == kNameError) answer.RCode = 3;
                    const std::string& zone = rec->Data;
                    const uint64_t zkey = KeyOf(zone);
                    if (const size_t z = FindRec(zone); z != 0) {
                        for (size_t j = z - 1; NameAt(j, zkey, zone); ++j) {
                            const RecordRef& soa = slots_[j].rec;
                            if (soa->RecType == kTypeSOA && Valid(*soa, now)) {
                                answer.AA = true;
                                answer.SectionAdd(3, soa);
                                return answer;
                            }
                        }
                    }
                    // The SOA that justified the marker is gone: the marker says nothing.
                    answer.RCode = 0;
                }
            }
        }

        if (quickie) return answer;

        std::string candidate = reqName;
        bool rootDone = false;
        for (;;) {
            bool found = false;
            const uint64_t ckey = KeyOf(candidate);
            if (const size_t first = FindRec(candidate); first != 0) {
                for (size_t i = first - 1; NameAt(i, ckey, candidate); ++i) {
                    const RecordRef rec = slots_[i].rec;
                    if (rec->RecType != kTypeNS || !Valid(*rec, now)) continue;
                    found = true;
                    answer.SectionAdd(3, rec);
                    AddAddl(answer, rec->Data);
                }
            }
            if (found || candidate.size() < 2 || rootDone) return answer;
            const size_t dot = (candidate + ".").find('.');
            candidate = dot + 1 < candidate.size() ? candidate.substr(dot + 1) : std::string();
            if (candidate.empty()) {
                candidate = ".";
                rootDone = true;
            }
        }
    } catch (...) {
        kest::ReportError("clDNSCache Ask");
        return answer;
    }
}

void clDNSCache::Purge() {
    if (slots_.empty()) return;
    const double now = clock_.Now();
    const size_t steps = slots_.size() / 600 + 1;
    for (size_t s = 0; s < steps && !slots_.empty(); ++s) {
        if (cursor_ <= 0 || static_cast<size_t>(cursor_) > slots_.size()) cursor_ = 1;
        const size_t index = static_cast<size_t>(cursor_) - 1;
        if (slots_[index].rec->mTimeOut < now)
            EraseAt(index);
        else
            ++cursor_;
    }
}

void clDNSCache::ClearCache() {
    std::erase_if(slots_, [](const Slot& s) { return !s.rec->Permanent; });
}

void clDNSCache::RemovePermanent() {
    std::erase_if(slots_, [](const Slot& s) { return s.rec->Permanent; });
}

void clDNSCache::RemoveNS(const std::string& zone, const std::string& server) {
    const size_t first = FindRec(zone);
    if (first == 0) return;
    const uint64_t key = KeyOf(zone);
    size_t i = first - 1;
    while (NameAt(i, key, zone)) {
        if (slots_[i].rec->Data == server)
            EraseAt(i);
        else
            ++i;
    }
}
