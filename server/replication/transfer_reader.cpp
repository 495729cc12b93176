#include "server/replication/transfer_reader.h"

#include "core/modDNS.h"
#include "core/report.h"
#include "server/authority/zonefile.h"

namespace modReplication {
namespace {

constexpr std::string_view kIncomplete = "incomplete.";

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (out.empty() || out.back() != '.') out.push_back('.');
    return out;
}

// True when name is zone itself or lies below it.
bool AtOrBelow(std::string_view name, std::string_view zone) {
    if (zone == ".") return true;
    if (name.size() < zone.size()) return false;
    const size_t cut = name.size() - zone.size();
    return name.substr(cut) == zone && (cut == 0 || name[cut - 1] == '.');
}

}  // namespace

void clTransferReader::Start(std::string_view zoneName, double now) {
    zone_ = Lower(zoneName);
    now_ = now;
    buffer_.clear();
    consumed_ = 0;
    records_.clear();
    complete_ = false;
    tooLarge_ = false;
    messages_ = 0;
    firstRCode_ = -1;
    total_ = 0;
}

clTransferReader::Status clTransferReader::Feed(std::string_view bytes) {
    if (tooLarge_) return Status::TooLarge;
    total_ += bytes.size();
    if (total_ > kMaxTransferBytes) {
        tooLarge_ = true;
        buffer_.clear();
        consumed_ = 0;
        return Status::TooLarge;
    }
    buffer_.append(bytes);
    for (;;) {
        if (complete_) break;
        const std::string_view rest = std::string_view(buffer_).substr(consumed_);
        if (rest.size() < 3) break;
        const size_t len = (static_cast<size_t>(static_cast<unsigned char>(rest[0])) << 8) |
                           static_cast<unsigned char>(rest[1]);
        if (rest.size() < len + 2) break;
        ProcessMessage(rest.substr(2, len));
        consumed_ += len + 2;
    }
    // Drop what has been read once it is worth the move, so one-byte segments stay cheap.
    if (consumed_ > 0 && (consumed_ == buffer_.size() || consumed_ >= 65536)) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    return complete_ ? Status::Complete : Status::NeedMore;
}

void clTransferReader::ProcessMessage(std::string_view message) {
    try {
        ++messages_;
        if (message.size() < 4) return;
        const int rcode = static_cast<unsigned char>(message[3]) & 0x0F;
        if (firstRCode_ < 0) firstRCode_ = rcode;
        if (rcode != 0 || message.size() < 12) return;
        std::string_view counts = message.substr(4);
        const int32_t qd = modDNS::ExtractShortL(counts, true);
        const int32_t an = modDNS::ExtractShortL(counts, true);
        std::string_view rest = message.substr(12);
        for (int32_t q = 0; q < qd; ++q) {
            modDNS::ExtractName(message, rest, true);
            if (rest.size() < 4) return;
            rest.remove_prefix(4);
        }
        for (int32_t a = 0; a < an; ++a) {
            const std::string owner = modDNS::ExtractName(message, rest, true);
            if (rest.size() < 10) return;
            const int32_t type = modDNS::ExtractShortL(rest, true);
            rest.remove_prefix(2);  // class
            const int32_t ttl = modDNS::ExtractLong(rest, true);
            const int32_t rdlength = modDNS::ExtractShortL(rest, true);
            if (static_cast<size_t>(rdlength) > rest.size()) return;
            const std::string_view rdata = rest.substr(0, static_cast<size_t>(rdlength));
            rest.remove_prefix(static_cast<size_t>(rdlength));

            // A transfer begins with the zone's own SOA; a message that does not is passed over.
            if (records_.empty() && (type != modDNS::kTypeSOA || owner != zone_)) return;
            if (type == modDNS::kTypeSOA && owner == zone_ && !records_.empty()) {
                complete_ = true;
                return;
            }
            if (!Keep(owner, type, ttl, message, rdata) && records_.empty()) return;
        }
    } catch (...) {
        kest::ReportError("ctlZTS ProcAnswer");
    }
}

bool clTransferReader::Keep(const std::string& owner, int32_t type, int32_t ttl,
                            std::string_view message, std::string_view rdata) {
    if (owner == kIncomplete || !AtOrBelow(owner, zone_)) return false;
    auto nameAt = [&](std::string_view part, std::string& out) {
        const std::string name = modDNS::ExtractName(message, part, true);
        out += name;
        return name != kIncomplete;
    };
    std::string data;
    switch (type) {
        case modDNS::kTypeA:
            if (rdata.size() < 4) return false;
            data = std::string(rdata.substr(0, 4));
            break;
        case modDNS::kTypeNS:
        case modDNS::kTypeCNAME:
        case modDNS::kTypePTR:
            if (!nameAt(rdata, data)) return false;
            break;
        case modDNS::kTypeSOA: {
            std::string_view part = rdata;
            const std::string mname = modDNS::ExtractName(message, part, true);
            const std::string rname = modDNS::ExtractName(message, part, true);
            if (mname == kIncomplete || rname == kIncomplete || part.size() < 20) return false;
            data = mname;
            data.push_back('\0');
            data += rname;
            data.push_back('\0');
            data += part.substr(0, 20);
            break;
        }
        case modDNS::kTypeMX:
            if (rdata.size() < 3) return false;
            data = std::string(rdata.substr(0, 2));
            if (!nameAt(rdata.substr(2), data)) return false;
            break;
        case modDNS::kTypeTXT:
            if (rdata.empty()) return false;
            data = std::string(rdata);
            break;
        case modDNS::kTypeSRV:
            if (rdata.size() < 7) return false;
            data = std::string(rdata.substr(0, 6));
            if (!nameAt(rdata.substr(6), data)) return false;
            break;
        default:
            return false;
    }
    auto rec = std::make_shared<clDNSRecord>();
    rec->Permanent = true;
    rec->Name = owner;
    rec->RecType = type;
    rec->Data = std::move(data);
    rec->SetTTL(ttl, now_);
    if (!modZoneFile::RecordWritable(zone_, *rec)) return false;
    records_.push_back(std::move(rec));
    return true;
}

}  // namespace modReplication
