#include "core/clDNSAnswer.h"

#include <algorithm>

#include "core/report.h"

RecordList* clDNSAnswer::Section(int secNo) {
    switch (secNo) {
        case 2:
            return &Section2;
        case 3:
            return &Section3;
        case 4:
            return &Section4;
        default:
            return nullptr;
    }
}

const RecordList* clDNSAnswer::Section(int secNo) const {
    return const_cast<clDNSAnswer*>(this)->Section(secNo);
}

namespace {
bool Holds(const RecordList& list, const clDNSRecord& r) {
    return std::any_of(list.begin(), list.end(),
                       [&](const RecordRef& x) { return x && x->SameAs(r); });
}
}  // namespace

void clDNSAnswer::SectionAdd(int secNo, RecordRef rec) {
    try {
        if (!rec) return;
        if (Holds(Section2, *rec)) return;
        if (secNo == 2) {
            Section2.push_back(std::move(rec));
            return;
        }
        if (Holds(Section3, *rec)) return;
        if (secNo == 3) {
            Section3.push_back(std::move(rec));
            return;
        }
        if (Holds(Section4, *rec)) return;
        Section4.push_back(std::move(rec));
    } catch (...) {
        kest::ReportError("clDNSAnswer SectionAdd");
    }
}
