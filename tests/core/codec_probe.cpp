// A line-oriented probe of the codec for tests/core/test_codec_dnspython.py. One command a line,
// one answer a line (or several, ended by "END"):
//   D <hexmsg>                 decode a reply: "Q <rqname> <rqtype> <id> <aa> <tc> <rcode>", one
//                              "R <sec> <name> <type> <ttl> <hexdata>" per kept record, then
//                              "END <1 complete | 0 incomplete>"
//   U <hexmsg> <offset>        UnzipName: "U <name>" ("U -" for the root's empty text)
//   Z <hexmsg> <hexname>       ZipName (all three encoders must agree): "Z <hex>" or "Z -"
//   B <id> <aa> <rd> <ra> <rcode> <qtype> <hexqname> <age> <repeat> <item> ...
//                              the server's reply writer on the records of the items, each
//                              <sec>:<type>:<hexowner>:<hexdata>:<ttl> ("-" for empty hex), made
//                              at one moment and written age seconds later, repeat times in a row
//                              on the same records: "B <hexmsg>", or "B -" when nothing was written
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/modDNS.h"
#include "core/zipname_reference.h"
#include "server/resolver/clDNSRequest.h"

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

constexpr double kNow = 46000.0;

// The server's own reply writer on records made from the line's items.
std::string Build(std::istringstream& in) {
    int id = 0, aa = 0, rd = 0, ra = 0, rcode = 0, qtype = 0, age = 0, repeat = 1;
    std::string qname;
    in >> id >> aa >> rd >> ra >> rcode >> qtype >> qname >> age >> repeat;
    qname = qname == "-" ? "" : Unhex(qname);
    clDNSAnswer reply;
    reply.AA = aa != 0;
    reply.RA = ra != 0;
    reply.RCode = static_cast<int16_t>(rcode);
    std::string item;
    while (in >> item) {
        std::vector<std::string> f;
        size_t from = 0;
        for (size_t c; (c = item.find(':', from)) != std::string::npos; from = c + 1) {
            f.push_back(item.substr(from, c - from));
        }
        f.push_back(item.substr(from));
        RecordList* section = f.size() == 5 ? reply.Section(std::stoi(f[0])) : nullptr;
        if (!section) return "?";
        const auto field = [](const std::string& h) { return h == "-" ? std::string() : Unhex(h); };
        section->push_back(
            MakeRecord(field(f[2]), std::stoi(f[1]), field(f[3]), std::stoi(f[4]), kNow));
    }
    ReplyScratch scratch;
    std::string msg;
    for (int i = 0; i < repeat; ++i) {
        msg = clDNSRequest::BuildMessage({id, rd != 0, qname, qtype}, reply, kNow + age / 86400.0,
                                         scratch, nullptr);
    }
    return msg.empty() ? "-" : Hex(msg);
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
            const bool ok = DecodeReply(msg, a, kNow);
            std::cout << "Q " << (a.RqName.empty() ? "-" : a.RqName) << ' ' << a.RqType << ' '
                      << a.Id << ' ' << a.AA << ' ' << a.TC << ' ' << a.RCode << '\n';
            for (int sec = 2; sec <= 4; ++sec) {
                for (const RecordRef& r : *a.Section(sec)) {
                    std::cout << "R " << sec << ' ' << r->Name << ' ' << r->RecType << ' '
                              << r->TTL(kNow) << ' ' << (r->Data.empty() ? "-" : Hex(r->Data))
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
