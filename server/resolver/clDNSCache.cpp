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

clDNSCache::Pos clDNSCache::LowerBound(uint64_t key, std::string_view name) const {
    // The first block whose last name is not less than name, then the place inside it.
    size_t lo = 0, hi = blocks_.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (Compare(blocks_[mid].back(), key, name) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == blocks_.size()) return {lo, 0};
    const Block& block = blocks_[lo];
    size_t l = 0, h = block.size() - 1;
    while (l != h) {
        const size_t mid = l + (h - l) / 2;
        if (Compare(block[mid], key, name) < 0)
            l = mid + 1;
        else
            h = mid;
    }
    return {lo, l};
}

clDNSCache::Pos clDNSCache::Find(std::string_view name) const {
    const uint64_t key = KeyOf(name);
    const Pos p = LowerBound(key, name);
    return NameAt(p, key, name) ? p : Pos{blocks_.size(), 0};
}

size_t clDNSCache::NumberOf(Pos p) const {
    size_t n = 0;
    for (size_t b = 0; b < p.b && b < blocks_.size(); ++b) n += blocks_[b].size();
    return n + p.i + 1;
}

clDNSCache::Pos clDNSCache::PosOf(size_t number) const {
    if (number == 0) return {blocks_.size(), 0};
    size_t left = number - 1;
    for (size_t b = 0; b < blocks_.size(); ++b) {
        if (left < blocks_[b].size()) return {b, left};
        left -= blocks_[b].size();
    }
    return {blocks_.size(), 0};
}

void clDNSCache::InsertAt(Pos p, Slot slot) {
    if (blocks_.empty()) {
        blocks_.emplace_back();
        blocks_.back().reserve(kBlockMax + 1);
        p = {0, 0};
    } else if (AtEnd(p)) {
        p = {blocks_.size() - 1, blocks_.back().size()};
    }
    Block& block = blocks_[p.b];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(p.i), std::move(slot));
    ++count_;
    if (block.size() > kBlockMax) {
        Block second;
        second.reserve(kBlockMax + 1);
        const auto half = block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2);
        std::move(half, block.end(), std::back_inserter(second));
        block.erase(half, block.end());
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(p.b + 1), std::move(second));
    }
}

void clDNSCache::EraseAt(Pos& p) {
    Block& block = blocks_[p.b];
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(p.i));
    --count_;
    if (block.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.b));
        p.i = 0;
        return;
    }
    // A small block takes in its small successor, so removals never leave a trail of tiny blocks.
    if (block.size() < kBlockMax / 8 && p.b + 1 < blocks_.size() &&
        block.size() + blocks_[p.b + 1].size() <= kBlockMax / 2) {
        Block& next = blocks_[p.b + 1];
        std::move(next.begin(), next.end(), std::back_inserter(block));
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.b + 1));
    }
    if (p.i >= blocks_[p.b].size()) p = {p.b + 1, 0};
}

template <class Keep>
void clDNSCache::Filter(Keep keep) {
    std::vector<Block> packed;
    for (Block& block : blocks_) {
        for (Slot& slot : block) {
            if (!keep(slot)) continue;
            if (packed.empty() || packed.back().size() >= kBlockMax / 2) {
                packed.emplace_back();
                packed.back().reserve(kBlockMax + 1);
            }
            packed.back().push_back(std::move(slot));
        }
    }
    blocks_ = std::move(packed);
    count_ = 0;
    for (const Block& block : blocks_) count_ += block.size();
}

RecordRef clDNSCache::Record(size_t pos) const {
    const Pos p = PosOf(pos);
    return AtEnd(p) ? nullptr : At(p).rec;
}

std::vector<RecordRef> clDNSCache::Records() const {
    std::vector<RecordRef> out;
    out.reserve(count_);
    for (const Block& block : blocks_)
        for (const Slot& slot : block) out.push_back(slot.rec);
    return out;
}

size_t clDNSCache::FindRec(std::string_view name) const {
    try {
        const Pos p = Find(name);
        return AtEnd(p) ? 0 : NumberOf(p);
    } catch (...) {
        kest::ReportError("clDNSCache FindRec");
        return 0;
    }
}

size_t clDNSCache::RecordPos(std::string_view name) const {
    try {
        if (count_ == 0) return 0;
        const uint64_t key = KeyOf(name);
        if (Compare(blocks_.front().front(), key, name) >= 0) return 0;
        if (Compare(blocks_.back().back(), key, name) <= 0) return count_;
        // Between the first and the last name the halving ends on the last record below name.
        return NumberOf(LowerBound(key, name)) - 1;
    } catch (...) {
        kest::ReportError("clDNSCache RecordPos");
        return 0;
    }
}

void clDNSCache::AddRec(RecordRef rec) {
    try {
        if (!rec) return;
        const uint64_t key = KeyOf(rec->Name);
        Pos p{0, 0};
        if (count_ == 0 || Compare(blocks_.front().front(), key, rec->Name) >= 0)
            p = {0, 0};
        else if (Compare(blocks_.back().back(), key, rec->Name) <= 0)
            p = {blocks_.size(), 0};
        else
            p = LowerBound(key, rec->Name);
        InsertAt(p, Slot{key, std::move(rec)});
    } catch (...) {
        kest::ReportError("clDNSCache AddRec");
    }
}

bool clDNSCache::CRemRec(const std::string& name, int32_t recType) {
    try {
        const int32_t base =
            (recType > kNoDataBase && recType < kNameError) ? recType - kNoDataBase : recType;
        const uint64_t key = KeyOf(name);
        for (Pos p = Find(name); NameAt(p, key, name);) {
            const clDNSRecord& rec = *At(p).rec;
            if (rec.Permanent) return false;
            const int32_t t = rec.RecType;
            if (t == kNameError || base == kNameError || t == base || t == base + kNoDataBase)
                EraseAt(p);
            else
                Next(p);
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
        const uint64_t key = KeyOf(name);
        for (Pos p = Find(name); NameAt(p, key, name); Next(p))
            if (At(p).rec->RecType == kTypeA) answer.SectionAdd(4, At(p).rec);
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
        for (Pos p = Find(reqName); NameAt(p, key, reqName); Next(p)) {
            const RecordRef& rec = At(p).rec;
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
                for (Pos z = Find(zone); NameAt(z, zkey, zone); Next(z)) {
                    const RecordRef& soa = At(z).rec;
                    if (soa->RecType == kTypeSOA && Valid(*soa, now)) {
                        answer.AA = true;
                        answer.SectionAdd(3, soa);
                        return answer;
                    }
                }
                // The SOA that justified the marker is gone: the marker says nothing.
                answer.RCode = 0;
            }
        }

        if (quickie) return answer;

        std::string candidate = reqName;
        bool rootDone = false;
        for (;;) {
            bool found = false;
            const uint64_t ckey = KeyOf(candidate);
            for (Pos p = Find(candidate); NameAt(p, ckey, candidate); Next(p)) {
                const RecordRef& rec = At(p).rec;
                if (rec->RecType != kTypeNS || !Valid(*rec, now)) continue;
                found = true;
                answer.SectionAdd(3, rec);
                AddAddl(answer, rec->Data);
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
    if (count_ == 0) return;
    const double now = clock_.Now();
    const size_t steps = count_ / 600 + 1;
    if (cursor_ <= 0 || static_cast<size_t>(cursor_) > count_) cursor_ = 1;
    Pos p = PosOf(static_cast<size_t>(cursor_));
    for (size_t s = 0; s < steps && count_ > 0; ++s) {
        if (AtEnd(p)) {
            cursor_ = 1;
            p = {0, 0};
        }
        if (At(p).rec->mTimeOut < now) {
            EraseAt(p);  // the cursor stays
        } else {
            ++cursor_;
            Next(p);
        }
    }
}

void clDNSCache::ClearCache() {
    Filter([](const Slot& s) { return s.rec->Permanent; });
}

void clDNSCache::RemovePermanent() {
    Filter([](const Slot& s) { return !s.rec->Permanent; });
}

void clDNSCache::RemoveNS(const std::string& zone, const std::string& server) {
    const uint64_t key = KeyOf(zone);
    for (Pos p = Find(zone); NameAt(p, key, zone);) {
        if (At(p).rec->Data == server)
            EraseAt(p);
        else
            Next(p);
    }
}
