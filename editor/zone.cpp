#include "editor/zone.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "platform/files.h"

namespace editor {
namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i])) return false;
    return true;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

bool IsPlainNumber(std::string_view w) {
    if (w.empty() || (w.size() > 1 && w.front() == '0')) return false;
    return std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The absolute integer part of a number word, clamped to [0, hi].
int64_t WholeNumber(std::string_view word, int64_t hi) {
    const double v = std::abs(std::trunc(kest::LeadingNumber(word)));
    return std::isnan(v) ? 0 : v > static_cast<double>(hi) ? hi : static_cast<int64_t>(v);
}

// The text of one line: cut at ";", tabs made blanks, trailing blanks removed.
std::string LineText(std::string_view raw, bool trimLeft) {
    std::string s(raw.substr(0, raw.find(';')));
    std::replace(s.begin(), s.end(), '\t', ' ');
    std::string_view v = s;
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    if (trimLeft) v = Trim(v);
    return std::string(v);
}

}  // namespace

clDNSRecord* clZone::Find(std::string_view key) {
    for (auto& r : Records)
        if (r.KeyNo == key) return &r;
    return nullptr;
}

bool clZone::Remove(std::string_view key) {
    const auto it =
        std::find_if(Records.begin(), Records.end(), [&](const auto& r) { return r.KeyNo == key; });
    if (it == Records.end()) return false;
    Records.erase(it);
    return true;
}

std::string CleanName(std::string_view name, bool allowWild) {
    std::string text;
    for (char c : Trim(name)) text.push_back(Lower(c));
    const bool wild = allowWild && text.rfind("*.", 0) == 0;
    std::string kept;
    for (size_t i = wild ? 2 : 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '/' ||
            c == '_')
            kept.push_back(c);
    }
    if (wild) kept = "*." + kept;
    size_t first = 0;
    while (first < kept.size() && kept[first] == '.') ++first;
    kept.erase(0, first);
    while (!kept.empty() && kept.back() == '.') kept.pop_back();
    for (size_t p; (p = kept.find("..")) != std::string::npos;) kept.erase(p, 1);
    return kept;
}

std::string QualifyName(std::string_view zoneName, std::string_view token) {
    const std::string clean = CleanName(token, true);
    if (token.find('.') != std::string_view::npos) return clean + ".";
    // An empty token ("@" cleans away) is the zone itself.
    if (clean.empty()) return std::string(zoneName);
    return clean + "." + (zoneName == "." ? std::string() : std::string(zoneName));
}

std::string RelName(std::string_view zoneName, std::string_view name) {
    const size_t dot = name.find('.');
    if (dot != std::string_view::npos && dot > 0 && name.substr(dot + 1) == zoneName)
        return std::string(name.substr(0, dot));
    return std::string(name);
}

std::string NextWord(std::string& line) {
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) {
        line.clear();
        return {};
    }
    const size_t end = line.find(' ', start);
    std::string word =
        line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) {
        line.clear();
    } else {
        const size_t rest = line.find_first_not_of(' ', end);
        line = rest == std::string::npos ? std::string() : line.substr(rest);
    }
    return word;
}

std::string AddRecordSorted(std::vector<clDNSRecord>& records, clDNSRecord record,
                            KeyCounter& keys) {
    record.KeyNo = keys.Next();
    const std::string key = record.KeyNo;
    // After every record of an equal or smaller name, so the records of one owner keep the order
    // they came in (a file read and written again keeps its order).
    const auto at =
        std::upper_bound(records.begin(), records.end(), record.Name,
                         [](const std::string& n, const clDNSRecord& r) { return n < r.Name; });
    records.insert(at, std::move(record));
    return key;
}

std::string TypeName(int type) {
    return modDNS::RTypeN(type);
}

std::vector<std::string> TxtStrings(std::string_view data) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < data.size()) {
        const size_t len = static_cast<unsigned char>(data[i]);
        out.emplace_back(data.substr(i + 1, len));
        i += 1 + len;
    }
    return out;
}

std::string ParseTXT(std::string_view text) {
    std::string out;
    auto add = [&out](std::string s) {
        if (s.size() > 255) s.resize(255);
        if (s.empty()) return;
        out.push_back(static_cast<char>(s.size()));
        out += s;
    };
    std::string_view rest = Trim(text);
    while (!rest.empty()) {
        if (rest.front() != '"') {
            add(std::string(rest));
            break;
        }
        rest.remove_prefix(1);
        const size_t close = rest.find('"');
        const std::string_view body = rest.substr(0, close);
        std::string s;
        for (size_t i = 0; i < body.size(); ++i) {
            if (body[i] == '\\' && i + 3 < body.size() + 1) {
                const std::string_view oct = body.substr(i + 1, 3);
                if (oct.size() == 3 && std::all_of(oct.begin(), oct.end(),
                                                   [](char c) { return c >= '0' && c <= '7'; })) {
                    const int v = (oct[0] - '0') * 64 + (oct[1] - '0') * 8 + (oct[2] - '0');
                    if (v <= 255) {
                        s.push_back(static_cast<char>(v));
                        i += 3;
                        continue;
                    }
                }
            }
            s.push_back(body[i]);
        }
        add(std::move(s));
        rest = close == std::string_view::npos ? std::string_view{} : Trim(rest.substr(close + 1));
    }
    return out;
}

std::string FormatTXT(std::string_view data) {
    std::string out;
    for (const std::string& s : TxtStrings(data)) modDNS::AppendQuotedTxt(out, s);
    return out;
}

int32_t Short(std::string_view data, size_t offset) {
    if (data.size() < offset + 2) return 0;
    return static_cast<unsigned char>(data[offset]) * 256 +
           static_cast<unsigned char>(data[offset + 1]);
}

std::string MakeShortL(int64_t n) {
    const auto v = static_cast<uint16_t>(n & 0xFFFF);
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::string ZoneFileName(std::string_view zoneName) {
    if (zoneName == "." || zoneName.empty()) return "_root.dns";
    std::string n(zoneName);
    if (n.back() != '.') n.push_back('.');
    std::replace(n.begin(), n.end(), '/', '~');
    return n + "dns";
}

std::vector<std::string> ListZones(const std::filesystem::path& dataDir) {
    std::vector<std::string> out;
    for (const auto& file : platform::ListFiles(dataDir)) {
        const std::string name = file.filename().string();
        if (!EndsWithNoCase(name, ".dns") || name.size() <= 4) continue;
        if (StartsWithNoCase(name, "_root.dns") && name.size() == 9) {
            out.push_back("<root>");
            continue;
        }
        std::string text = name.substr(0, name.size() - 4);
        std::replace(text.begin(), text.end(), '~', '/');
        out.push_back(text);
    }
    return out;
}

std::string ZoneOfText(std::string_view text) {
    if (text == "<root>") return ".";
    return std::string(text) + ".";
}

std::string TextOfZone(std::string_view zoneName) {
    if (zoneName == "." || zoneName.empty()) return "<root>";
    std::string t(zoneName);
    if (t.back() == '.') t.pop_back();
    return t;
}

namespace {

// The zone's file in the folder: the exact spelling when it exists, else a file of the same
// name with its ".dns" ending in another case.
std::filesystem::path FindZoneFile(const std::filesystem::path& dataDir,
                                   std::string_view zoneName) {
    const std::string exact = ZoneFileName(zoneName);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(dataDir / exact, ec)))
        return dataDir / exact;
    const std::string stem = exact.substr(0, exact.size() - 3);
    for (const auto& file : platform::ListFiles(dataDir)) {
        const std::string name = file.filename().string();
        if (name.size() == exact.size() && name.compare(0, stem.size(), stem) == 0 &&
            EndsWithNoCase(name, "dns"))
            return file;
    }
    return dataDir / exact;
}

class Reader {
  public:
    Reader(clZone& zone, KeyCounter& keys) : zone_(zone), keys_(keys) {}

    void Header(std::string_view raw) {
        if (StartsWithNoCase(raw, "; PRIMARYIP ")) {
            zone_.PrimIP = modIP::CleanIP(Trim(raw.substr(12)));
        } else if (StartsWithNoCase(raw, "; NOTIFY ")) {
            std::string rest(raw.substr(9));
            for (std::string w = NextWord(rest); !w.empty(); w = NextWord(rest))
                zone_.Slaves.push_back(w);
        } else if (StartsWithNoCase(raw, "; NOTSECURE")) {
            zone_.Secure = false;
        }
    }

    void Record(std::string line) {
        if (line.empty()) return;
        std::string owner;
        if (line[0] == '@') {
            owner = zone_.Name;
            line = line.size() > 2 ? line.substr(2) : std::string();
        } else if (line[0] == ' ') {
            if (previous_.empty()) return;
            owner = previous_;
        } else {
            owner = QualifyName(zone_.Name, NextWord(line));
        }
        previous_ = owner;

        std::string word = Upper(NextWord(line));
        if (word == "CH") return;
        if (word == "IN") word = Upper(NextWord(line));
        if (word.empty()) return;
        int32_t ttl = soaMinimum_ > 0
                          ? static_cast<int32_t>(std::min<uint32_t>(soaMinimum_, INT32_MAX))
                          : 86400;
        if (IsPlainNumber(word)) {
            ttl = static_cast<int32_t>(WholeNumber(word, INT32_MAX));
            word = Upper(NextWord(line));
            if (word == "CH") return;
            if (word == "IN") word = Upper(NextWord(line));
        }
        if (word.empty() || line.empty()) return;

        clDNSRecord rec;
        rec.Name = owner;
        rec.TTL = ttl;
        if (word == "A") {
            rec.RecType = kA;
            rec.Data = modIP::IPToData(line);
            if (rec.Data == std::string(4, '\0')) return;
        } else if (word == "NS" || word == "CNAME" || word == "PTR") {
            rec.RecType = word == "NS" ? kNS : word == "CNAME" ? kCNAME : kPTR;
            rec.Data = QualifyName(zone_.Name, NextWord(line));
        } else if (word == "MX") {
            rec.RecType = kMX;
            rec.Data = MakeShortL(WholeNumber(NextWord(line), 65535));
            rec.Data += QualifyName(zone_.Name, NextWord(line));
        } else if (word == "SRV") {
            rec.RecType = kSRV;
            for (int i = 0; i < 3; ++i) rec.Data += MakeShortL(WholeNumber(NextWord(line), 65535));
            rec.Data += QualifyName(zone_.Name, NextWord(line));
        } else if (word == "TXT") {
            rec.RecType = kTXT;
            rec.Data = ParseTXT(line);
            if (rec.Data.empty()) return;
        } else if (word == "DFCN") {
            rec.RecType = kCNAME;
            rec.Name = "*." + owner;
            rec.Data = QualifyName(zone_.Name, NextWord(line));
        } else if (word == "SOA") {
            zone_.PrimServ = QualifyName(owner, NextWord(line));
            zone_.EMail = QualifyName(owner, NextWord(line));
            zone_.Serial = static_cast<uint32_t>(WholeNumber(NextWord(line), UINT32_MAX));
            for (int i = 1; i <= 4 && !line.empty(); ++i)
                zone_.TTL[i] = static_cast<uint32_t>(WholeNumber(NextWord(line), UINT32_MAX));
            soaMinimum_ = zone_.TTL[4];
            return;
        } else {
            return;
        }
        AddRecordSorted(zone_.Records, std::move(rec), keys_);
    }

  private:
    clZone& zone_;
    KeyCounter& keys_;
    std::string previous_;
    uint32_t soaMinimum_ = 0;
};

}  // namespace

clZone ReadZoneText(std::string_view text, std::string_view zoneName, KeyCounter& keys) {
    clZone zone;
    std::string name;
    for (char c : zoneName) name.push_back(Lower(c));
    zone.Name = name.empty() ? "." : name;
    zone.Secure = true;
    Reader reader(zone, keys);
    const std::vector<std::string> lines = platform::SplitLines(std::string(text));
    bool continuation = true;  // off once a "(" ran to the end of the file unclosed
    for (size_t i = 0; i < lines.size(); ++i) {
        reader.Header(lines[i]);
        std::string record = LineText(lines[i], false);
        if (!record.empty() && record.back() == '(') {
            record.pop_back();
            bool closed = false;
            size_t j = i + 1;
            for (; continuation && j < lines.size(); ++j) {
                std::string part = LineText(lines[j], true);
                const size_t close = part.find(')');
                if (close != std::string::npos) {
                    part = std::string(Trim(part.substr(0, close)));
                    closed = true;
                }
                record += " " + part;
                if (closed) break;
            }
            if (!closed) {
                // Only the unfinished record is lost; the lines after it are read as they are.
                continuation = false;
                continue;
            }
            i = j;
            while (!record.empty() && record.back() == ' ') record.pop_back();
        }
        reader.Record(std::move(record));
    }
    return zone;
}

clZone ReadZoneFile(const std::filesystem::path& dataDir, std::string_view zoneName,
                    KeyCounter& keys, ReadResult& result) {
    const std::filesystem::path path = FindZoneFile(dataDir, zoneName);
    std::error_code ec;
    // A link that points nowhere is a file that cannot be read, not a missing one.
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    const auto text =
        std::filesystem::is_regular_file(path, ec) ? platform::ReadFile(path) : std::nullopt;
    result = !exists ? ReadResult::Missing : text ? ReadResult::Loaded : ReadResult::Unreadable;
    clZone zone = ReadZoneText(text ? *text : std::string(), zoneName, keys);
    zone.File = path.filename().string();
    return zone;
}

std::vector<std::string> ZoneLines(const clZone& zone) {
    std::vector<std::string> lines;
    const std::string& origin = zone.Name;
    auto body = [&](const clDNSRecord& r) {
        std::string s = " " + std::to_string(r.TTL) + " " + TypeName(r.RecType);
        switch (r.RecType) {
            case kA:
                s += " " + modIP::DataToIP(r.Data);
                break;
            case kMX:
                s += " " + std::to_string(Short(r.Data, 0)) + " " +
                     RelName(origin, r.Data.size() > 2 ? r.Data.substr(2) : std::string());
                break;
            case kSRV:
                s += " " + std::to_string(Short(r.Data, 0)) + " " +
                     std::to_string(Short(r.Data, 2)) + " " + std::to_string(Short(r.Data, 4)) +
                     " " + RelName(origin, r.Data.size() > 6 ? r.Data.substr(6) : std::string());
                break;
            case kTXT:
                s += " " + FormatTXT(r.Data);
                break;
            default:
                s += " " + RelName(origin, r.Data);
                break;
        }
        return s;
    };
    if (!zone.PrimIP.empty()) lines.push_back("; PrimaryIP " + zone.PrimIP);
    if (!zone.Slaves.empty()) {
        std::string l = "; Notify";
        for (const auto& s : zone.Slaves) l += " " + s;
        lines.push_back(l);
    }
    if (!zone.Secure) lines.push_back("; NotSecure");
    const bool soa = !zone.PrimServ.empty();
    if (soa) {
        lines.push_back("@ " + std::to_string(zone.TTL[4]) + " SOA " + zone.PrimServ + " " +
                        zone.EMail + " " + std::to_string(zone.Serial) + " " +
                        std::to_string(zone.TTL[1]) + " " + std::to_string(zone.TTL[2]) + " " +
                        std::to_string(zone.TTL[3]) + " " + std::to_string(zone.TTL[4]));
    }
    bool ownerWritten = soa;
    for (const auto& r : zone.Records) {
        if (r.Name != origin) continue;
        // With no SOA line above, a blank owner column would have no owner: name the apex.
        lines.push_back((ownerWritten ? std::string() : std::string("@")) + body(r));
        ownerWritten = true;
    }
    const std::string* last = nullptr;
    for (const auto& r : zone.Records) {
        if (r.Name == origin) continue;
        std::string owner;
        if (!last || *last != r.Name) owner = RelName(origin, r.Name);
        lines.push_back(owner + body(r));
        last = &r.Name;
    }
    return lines;
}

bool WriteZoneFile(const std::filesystem::path& dataDir, const clZone& zone, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dataDir, ec);
    const std::string file = zone.File.empty() ? ZoneFileName(zone.Name) : zone.File;
    try {
        platform::WriteFileAtomic(dataDir / file, platform::JoinCrLf(ZoneLines(zone)));
        return true;
    } catch (const std::system_error& e) {
        error = e.code().message();
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace editor
