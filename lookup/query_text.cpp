#include "lookup/query_text.h"

#include <cmath>
#include <cstdlib>

#include "core/modDNS.h"
#include "core/report.h"

namespace lookup {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return out;
}

// A piece's numeric value as a basic "value of text" reads it: blanks, a sign, digits.
long PieceValue(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    long v = 0;
    bool any = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        any = true;
        if (v < 100000) v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (!any) return 0;
    (void)neg;  // the absolute value counts
    return v;
}

std::string Number(int64_t n) {
    return std::to_string(n);
}

}  // namespace

std::string CleanQueryName(std::string_view text) {
    std::string out;
    for (char c : Lower(Trim(text))) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '/' ||
            c == '_')
            out += c;
    }
    size_t b = out.find_first_not_of('.');
    if (b == std::string::npos) return "";
    out.erase(0, b);
    while (!out.empty() && out.back() == '.') out.pop_back();
    for (size_t p; (p = out.find("..")) != std::string::npos;) out.erase(p, 1);
    return out;
}

std::string IPToBytes(std::string_view text) {
    std::string t(text);
    t += "....";
    std::string bytes;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = t.find('.', start);
        const long v = PieceValue(std::string_view(t).substr(start, dot - start));
        bytes += static_cast<char>(v > 255 ? 0 : v);
        start = dot + 1;
    }
    return bytes;
}

std::string IPText(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < 4; ++i) {
        if (i) out += '.';
        out += Number(i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0);
    }
    return out;
}

bool IsIPAddress(std::string_view text) {
    return IPText(IPToBytes(text)) == text;
}

std::string ReverseName(std::string_view ip) {
    const std::string b = IPToBytes(ip);
    std::string name;
    for (int i = 3; i >= 0; --i) name += Number(static_cast<unsigned char>(b[i])) + ".";
    return CleanQueryName(name + "in-addr.arpa.");
}

std::string DurationText(double seconds) {
    std::string out;
    double rest = seconds < 0 ? 0 : seconds;
    auto add = [&](const std::string& part) {
        if (!out.empty()) out += ", ";
        out += part;
    };
    const struct {
        double size;
        const char* word;
    } units[] = {{86400, " Day"}, {3600, " Hour"}, {60, " Minute"}};
    for (const auto& u : units) {
        if (rest >= u.size) {
            const double n = std::floor(rest / u.size);
            add(Number(static_cast<int64_t>(n)) + u.word + (n > 1 ? "s" : ""));
            rest -= n * u.size;
        }
    }
    if (out.empty() || rest >= 0.5) {
        const auto n = static_cast<int64_t>(std::floor(rest + 0.5));
        add(Number(n) + " Second" + (n == 1 ? "" : "s"));
    }
    return out;
}

std::string TypeName(int64_t type) {
    static const char* const kLow[] = {"A",  "NS",   "MD",  "MF",  "CNAME", "SOA",   "MB", "MG",
                                       "MR", "NULL", "WKS", "PTR", "HINFO", "MINFO", "MX", "TXT"};
    if (type >= 1 && type <= 16) return kLow[type - 1];
    switch (type) {
        case 28:
            return "AAAA";
        case 33:
            return "SRV";
        case 252:
            return "AXFR";
        case 253:
            return "MAILB";
        case 254:
            return "MAILA";
        case 255:
            return "*";
        default:
            return "?" + Number(type) + "?";
    }
}

std::string RecordLines(std::string_view message, const std::string& owner, int32_t type,
                        std::string_view rdata) {
    using namespace modDNS;
    const std::string head = TypeName(type) + "-record for " + owner;
    std::string out;
    switch (type) {
        case kTypeA: {
            out = head + " = " + IPText(rdata.substr(0, 4));
            break;
        }
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            out = head + " = " + ExtractName(message, rdata, true);
            break;
        case kTypeSOA: {
            const std::string mname = ExtractName(message, rdata, true);
            std::string rname = ExtractName(message, rdata, true);
            if (const size_t dot = rname.find('.'); dot != std::string::npos) rname[dot] = '@';
            out = head + " = " + mname + kCrLf;
            out += "    Responsible Person = " + rname + kCrLf;
            out += "    Serial Number = " + Number(ExtractLongU(rdata, true)) + kCrLf;
            out += "    Refresh Interval = " + DurationText(ExtractLongU(rdata, true)) + kCrLf;
            out += "    Retry Interval = " + DurationText(ExtractLongU(rdata, true)) + kCrLf;
            out += "    Expire Interval = " + DurationText(ExtractLongU(rdata, true)) + kCrLf;
            out += "    Default / Minimum TTL = " + DurationText(ExtractLongU(rdata, true));
            break;
        }
        case kTypeMX: {
            const int32_t pref = ExtractShortL(rdata, true);
            out = head + " = " + ExtractName(message, rdata, true) + kCrLf;
            out += "    Preference = " + Number(pref);
            break;
        }
        case kTypeTXT:
            out = head + " = " + TextData(rdata);
            break;
        case kTypeSRV: {
            const int32_t prio = ExtractShortL(rdata, true);
            const int32_t weight = ExtractShortL(rdata, true);
            const int32_t port = ExtractShortL(rdata, true);
            out = head + " = " + ExtractName(message, rdata, true) + kCrLf;
            out += "    Priority = " + Number(prio) + kCrLf;
            out += "    Weight = " + Number(weight) + kCrLf;
            out += "    Port = " + Number(port);
            break;
        }
        default:
            out = head + " (record type not implemented)";
    }
    return out + kCrLf;
}

bool WalkSections(SectionWalk& walk, const uint32_t counts[4], std::string& out) {
    using namespace modDNS;
    std::string_view& rest = walk.rest;
    for (int sec = 1; sec <= 4; ++sec) {
        const uint32_t count = counts[sec - 1];
        if (sec >= 2 && walk.headings && count > 0)
            out += std::string(kCrLf) + std::string(SectionName(sec)) + ":" + kCrLf;
        for (uint32_t i = 0; i < count; ++i) {
            if (rest.empty()) return false;
            const std::string owner = ExtractName(walk.message, rest, true);
            if (rest.size() < 4) return false;
            const int32_t type = ExtractShortL(rest, true);
            const int32_t cls = ExtractShortL(rest, true);
            if (sec == 1) continue;
            if (rest.size() < 6) return false;
            const int32_t ttl = ExtractLong(rest, true);
            const int32_t rdlength = ExtractShortL(rest, true);
            if (rest.size() < static_cast<size_t>(rdlength)) return false;
            const std::string_view rdata = rest.substr(0, static_cast<size_t>(rdlength));
            rest.remove_prefix(static_cast<size_t>(rdlength));
            if (cls != 1) continue;
            if (walk.transfer && type == kTypeSOA && !walk.firstMessage) {
                walk.sawEndSoa = true;
                return true;
            }
            out += RecordLines(walk.message, owner, type, rdata);
            out += "    TTL = " + DurationText(ttl) + kCrLf;
        }
    }
    return true;
}

namespace {
void ReadCounts(std::string_view message, uint32_t counts[4]) {
    std::string_view h = message.size() > 4 ? message.substr(4) : std::string_view();
    for (int i = 0; i < 4; ++i) counts[i] = static_cast<uint32_t>(modDNS::ExtractShortL(h, true));
}
}  // namespace

bool ReplyText(std::string_view message, const std::string& name, int32_t qtype, bool recursion,
               std::string& out) {
    try {
        const uint8_t b3 = message.size() > 2 ? static_cast<uint8_t>(message[2]) : 0;
        const uint8_t b4 = message.size() > 3 ? static_cast<uint8_t>(message[3]) : 0;
        const bool aa = (b3 & 0x04) != 0;
        const bool ra = (b4 & 0x80) != 0;
        const int rcode = b4 & 0x0F;
        out += std::string("Authoritative Answer: ") + (aa ? "Yes" : "No") + kCrLf;
        out += std::string("Recursion Available: ") + (ra ? "Yes" : "No") + kCrLf;
        if (rcode != 0)
            out += std::string(kCrLf) + "Header:" + kCrLf + modDNS::RCodeN(rcode) + kCrLf;
        uint32_t counts[4];
        ReadCounts(message, counts);
        if (rcode == 0 && counts[1] == 0) {
            out += std::string(kCrLf) + "Answer:" + kCrLf;
            const bool sure = aa || (recursion && ra);
            out += "No " + TypeName(qtype) +
                   (sure ? "-Records exist for " : "-Records found for ") + name + kCrLf;
        }
        SectionWalk walk;
        walk.message = message;
        walk.rest = message.size() > 12 ? message.substr(12) : std::string_view();
        return WalkSections(walk, counts, out);
    } catch (...) {
        kest::ReportError("frmQuery Winsock_DataArrival");
        return false;
    }
}

TransferReader::Step TransferReader::Next(std::string& out) {
    if (buffer_.size() < 2) return Step::NeedMore;
    const size_t len =
        (static_cast<unsigned char>(buffer_[0]) << 8) | static_cast<unsigned char>(buffer_[1]);
    if (buffer_.size() < len + 2) return Step::NeedMore;
    const std::string message = buffer_.substr(2, len);
    buffer_.erase(0, len + 2);
    if (first_) {
        const int rcode = message.size() > 3 ? static_cast<unsigned char>(message[3]) & 0x0F : 0;
        if (rcode != 0) {
            out += std::string("Header:") + kCrLf + modDNS::RCodeN(rcode) + kCrLf;
            return Step::Finished;
        }
        started_ = true;
        out += std::string("Zone Transfer:") + kCrLf + kCrLf;
    }
    uint32_t counts[4];
    ReadCounts(message, counts);
    SectionWalk walk;
    walk.message = message;
    walk.rest = message.size() > 12 ? std::string_view(message).substr(12) : std::string_view();
    walk.headings = false;
    walk.transfer = true;
    walk.firstMessage = first_;
    if (!WalkSections(walk, counts, out)) return Step::Malformed;
    if (walk.sawEndSoa) return Step::Finished;
    first_ = false;
    return Step::Handled;
}

std::vector<WhoisEntry> ParseWhoisTable(std::string_view text) {
    std::vector<WhoisEntry> out;
    for (std::string_view line : Lines(text)) {
        line = Trim(line);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        WhoisEntry e{Lower(Trim(line.substr(0, colon))), Lower(Trim(line.substr(colon + 1)))};
        if (e.Domain.empty() || e.Server.empty()) continue;
        out.push_back(std::move(e));
    }
    return out;
}

std::string DefaultServer(std::string_view iniText) {
    std::string server = "127.0.0.1";
    for (std::string_view line : Lines(iniText)) {
        const size_t colon = line.find(':');
        const std::string key = Upper(Trim(line.substr(0, colon)));
        if (key != "PRIMARYIP") continue;
        server = colon == std::string_view::npos ? "" : Upper(Trim(line.substr(colon + 1)));
    }
    return server;
}

}  // namespace lookup
