// A line-oriented probe of the codec for tests/core/test_codec_dnspython.py. One command a line,
// one answer a line (or several, ended by "END"):
//   D <hexmsg>                 decode a reply: "Q <rqname> <rqtype>", one
//                              "R <sec> <name> <type> <ttl> <hexdata>" per kept record, then
//                              "END <1 complete | 0 incomplete>"
//   U <hexmsg> <offset>        UnzipName: "U <name>" ("U -" for the root's empty text)
//   Z <hexmsg> <hexname>       ZipName (all three encoders must agree): "Z <hex>" or "Z -"
//   (refused) B <type>:<hexname>:<hexdata> ...
//                              build a reply as the reply builder does (owner and RDATA names
//                              compressed, the message so far for RDATA names ending at the TTL):
//                              "B <hexmsg>", or "B REFUSED" when a name could not be encoded, or
//                              "B MISMATCH" when the encoders disagreed
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/modDNS.h"
#include "core/zipname_reference.h"

using namespace modDNS;

namespace {

std::string Hex(std::string_view s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

std::string Unhex(const std::string& h) {
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) {
        s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    }
    return s;
}

bool encodersAgree = true;

std::string Zip(const std::string& msg, const std::string& name, ZipIndex& ix) {
    const std::string a = ZipName(msg, name, ix);
    if (a != ZipName(msg, name) || a != reference::ZipName(msg, name)) encodersAgree = false;
    return a;
}

// RDATA of an in-memory record, names compressed against msg (the message up to the TTL).
bool Rdata(const std::string& msg, int type, const std::string& data, ZipIndex& ix,
           std::string& out) {
    auto name = [&](std::string_view n) {
        const std::string z = Zip(msg, std::string(n), ix);
        if (z.empty()) return false;
        out += z;
        return true;
    };
    out.clear();
    switch (type) {
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            return name(data);
        case kTypeMX:
            out = data.substr(0, 2);
            return name(std::string_view(data).substr(2));
        case kTypeSRV:
            out = data.substr(0, 6);
            return name(std::string_view(data).substr(6));
        case kTypeSOA: {
            auto soa = ParseSOAData(data);
            if (!soa) return false;
            if (!name(soa->mname) || !name(soa->rname)) return false;
            out += data.substr(data.size() - 20);
            return true;
        }
        default:
            out = data;
            return true;
    }
}

std::string Build(std::istringstream& in) {
    std::vector<std::string> items;
    std::string item;
    while (in >> item) items.push_back(item);
    std::string msg = MakeShortL(4242) + std::string("\x84\x00", 2) + MakeShortL(0) +
                      MakeShortL(static_cast<int64_t>(items.size())) + MakeShortL(0) +
                      MakeShortL(0);
    ZipIndex ix;
    encodersAgree = true;
    for (const std::string& it : items) {
        const size_t c1 = it.find(':'), c2 = it.find(':', c1 + 1);
        const int type = std::stoi(it.substr(0, c1));
        const std::string owner = Unhex(it.substr(c1 + 1, c2 - c1 - 1));
        const std::string data = Unhex(it.substr(c2 + 1));
        const std::string z = Zip(msg, owner, ix);
        if (z.empty()) return "REFUSED";
        msg += z;
        AppendShortL(msg, type);
        AppendShortL(msg, 1);
        msg += MakeLong(3600);
        std::string rdata;
        if (!Rdata(msg, type, data, ix, rdata)) return "REFUSED";
        AppendShortL(msg, static_cast<int64_t>(rdata.size()));
        msg += rdata;
    }
    if (!encodersAgree) return "MISMATCH";
    return Hex(msg);
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        if (cmd == "D") {
            std::string h;
            in >> h;
            const std::string msg = Unhex(h);
            clDNSAnswer a;
            const bool ok = DecodeReply(msg, a, 46000.0);
            std::cout << "Q " << (a.RqName.empty() ? "-" : a.RqName) << ' ' << a.RqType << '\n';
            for (int sec = 2; sec <= 4; ++sec) {
                for (const RecordRef& r : *a.Section(sec)) {
                    std::cout << "R " << sec << ' ' << r->Name << ' ' << r->RecType << ' '
                              << r->TTL(46000.0) << ' ' << (r->Data.empty() ? "-" : Hex(r->Data))
                              << '\n';
                }
            }
            std::cout << "END " << (ok ? 1 : 0) << std::endl;
        } else if (cmd == "U") {
            std::string h;
            int off = 0;
            in >> h >> off;
            const std::string n = UnzipName(Unhex(h), off);
            std::cout << "U " << (n.empty() ? "-" : n) << std::endl;
        } else if (cmd == "Z") {
            std::string h, n;
            in >> h >> n;
            ZipIndex ix;
            encodersAgree = true;
            const std::string z = Zip(Unhex(h), Unhex(n), ix);
            std::cout << "Z " << (encodersAgree ? (z.empty() ? "-" : Hex(z)) : "MISMATCH")
                      << std::endl;
        } else if (cmd == "B") {
            std::cout << "B " << Build(in) << std::endl;
        } else if (!cmd.empty()) {
            std::cout << "? " << cmd << std::endl;
        }
    }
    return 0;
}
