#include "core/clDNSRecord.h"

#include <cstdint>

#include "core/numtext.h"
#include "core/report.h"

void clDNSRecord::SetTTL(int32_t ttl, double now) {
    mTTL = ttl;
    mTimeOut = Permanent ? now + 2000.0 : now + static_cast<double>(ttl) / 86400.0;
}

int32_t clDNSRecord::TTL(double now) const {
    if (Permanent) return mTTL;
    // nearbyint in the default rounding mode: halves to the even neighbour.
    return static_cast<int32_t>(kest::RoundClamp((mTimeOut - now) * 86400.0, INT32_MIN, INT32_MAX));
}

RecordRef MakeRecord(std::string name, int32_t recType, std::string data, int32_t ttl, double now,
                     bool permanent) {
    try {
        auto r = std::make_shared<clDNSRecord>();
        r->Permanent = permanent;
        r->RecType = recType;
        r->Name = std::move(name);
        r->Data = std::move(data);
        r->SetTTL(ttl, now);
        return r;
    } catch (...) {
        kest::ReportError("clDNSRecord MakeRecord");
        return nullptr;
    }
}
