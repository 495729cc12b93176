#include "server/authority/clZone.h"

#include "core/report.h"

namespace {

std::string_view NameAt(const RecordList& records, int pos) {
    return records[pos - 1]->Name;
}

}  // namespace

int clZone::FindRec(std::string_view name) const {
    try {
        return modAuth::BinaryFind(static_cast<int>(Records.size()), name,
                                   [this](int i) { return NameAt(Records, i); });
    } catch (...) {
        kest::ReportError("clZone FindRec");
        return 0;
    }
}

void clZone::AddRec(RecordRef rec) {
    try {
        if (!rec) return;
        const int at = modAuth::InsertIndex(static_cast<int>(Records.size()), rec->Name,
                                            [this](int i) { return NameAt(Records, i); });
        Records.insert(Records.begin() + at, std::move(rec));
    } catch (...) {
        kest::ReportError("clZone AddRec");
    }
}

std::vector<RecordRef> clZone::RecordsNamed(std::string_view name) const {
    std::vector<RecordRef> out;
    try {
        const int first = FindRec(name);
        if (first == 0) return out;
        for (size_t i = static_cast<size_t>(first) - 1; i < Records.size(); ++i) {
            if (Records[i]->Name != name) break;
            out.push_back(Records[i]);
        }
    } catch (...) {
        kest::ReportError("clZone RecordsNamed");
    }
    return out;
}
