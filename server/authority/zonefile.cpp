#include "server/authority/zonefile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "core/report.h"
#include "platform/files.h"

namespace modZoneFile {
namespace {

using u8 = unsigned char;

constexpr int32_t kDefaultTTL = 86400;
constexpr size_t kMaxString = 255;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string UpperCase(std::string s) {
    for (char& c : s) c = Upper(c);
    return s;
}

std::string LowerCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

void TrimRight(std::string& s) {
    while (!s.empty() && IsBlank(s.back())) s.pop_back();
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Upper(line[i]) != Upper(prefix[i])) return false;
    }
    return true;
}

// The zone name as an origin: lower case, with its final dot; "." for the root.
std::string Origin(std::string_view zoneName) {
    std::string o = LowerCase(zoneName);
    if (o.empty() || o.back() != '.') o.push_back('.');
    return o;
}

std::string TabsToBlanks(std::string_view s) {
    std::string out(s);
    std::replace(out.begin(), out.end(), '\t', ' ');
    return out;
}

// Lines at LF, a CR before the LF dropped; a last line without LF counts.
std::vector<std::string_view> LineViews(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        size_t end = nl;
        if (end > pos && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(pos, end - pos));
        pos = nl + 1;
    }
    return lines;
}

// A record's first line: cut at ";", tabs to blanks, trailing blanks off; leading ones stay.
std::string FirstLineText(std::string_view raw) {
    std::string t = TabsToBlanks(raw.substr(0, raw.find(';')));
    TrimRight(t);
    return t;
}

// A continuation line: trimmed, cut at ";" and before ")"; closed tells whether it held the ")".
std::string ContinuationText(std::string_view raw, bool& closed) {
    std::string t = TabsToBlanks(raw);
    std::string_view v = Trim(t);
    v = v.substr(0, v.find(';'));
    const size_t close = v.find(')');
    closed = close != std::string_view::npos;
    if (closed) v = v.substr(0, close);
    return std::string(Trim(v));
}

// MX and SRV numbers: the absolute value of the integer part, within 16 bits.
int64_t Number16(std::string_view word) {
    return kest::RoundClamp(std::floor(std::fabs(kest::LeadingNumber(word))), 0, 65535);
}

// SOA numbers: the integer part, within unsigned 32 bits.
uint32_t Number32(std::string_view word) {
    return static_cast<uint32_t>(
        kest::RoundClamp(std::floor(kest::LeadingNumber(word)), 0, UINT32_MAX));
}

int OctalDigit(char c) {
    return (c >= '0' && c <= '7') ? c - '0' : -1;
}

std::string Unescape(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\\' && i + 3 < body.size()) {
            const int a = OctalDigit(body[i + 1]);
            const int b = OctalDigit(body[i + 2]);
            const int c = OctalDigit(body[i + 3]);
            if (a >= 0 && a <= 3 && b >= 0 && c >= 0) {
                out.push_back(static_cast<char>(a * 64 + b * 8 + c));
                i += 3;
                continue;
            }
        }
        out.push_back(body[i]);
    }
    return out;
}

// A name the codec can carry: no control byte, blank or DEL (the decoders take such a name as
// "incomplete."; in SOA data a zero byte would also split the names wrongly).
bool UsableName(std::string_view name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const u8 b = static_cast<u8>(c);
        return b < 0x21 || b == 0x7F;
    });
}

// ---- The reader's state over one file ----------------------------------------------------------

class Reader {
  public:
    Reader(std::string_view zoneName, double now) : origin_(Origin(zoneName)), now_(now) {}

    void Header(std::string_view raw) {
        if (StartsWithNoCase(raw, "; PRIMARYIP ")) {
            data_.PrimaryIP = std::string(Trim(raw.substr(12)));
        } else if (StartsWithNoCase(raw, "; NOTIFY ")) {
            // Split in one pass: a long line must not cost a copy per word.
            const std::string_view rest = raw.substr(9);
            size_t i = 0;
            while (i < rest.size()) {
                while (i < rest.size() && IsBlank(rest[i])) ++i;
                const size_t start = i;
                while (i < rest.size() && !IsBlank(rest[i])) ++i;
                if (i > start) data_.Slaves.emplace_back(rest.substr(start, i - start));
            }
        } else if (StartsWithNoCase(raw, "; NOTSECURE")) {
            data_.Secure = false;
        }
    }

    void Record(std::string& text) {
        if (text.empty()) return;
        std::string owner;
        if (text.front() == '@') {
            owner = origin_;
            text =
                std::string(Trim(std::string_view(text).substr(std::min<size_t>(2, text.size()))));
        } else if (text.front() == ' ') {
            if (!havePrevious_) return;
            owner = previousOwner_;
        } else {
            owner = FullName(NextWord(text), origin_);
        }
        previousOwner_ = owner;
        havePrevious_ = true;

        std::string word = UpperCase(NextWord(text));
        if (word == "CH") return;
        if (word == "IN") word = UpperCase(NextWord(text));
        if (word.empty() || text.empty()) return;

        int32_t ttl = soaMinimum_ > 0 ? soaMinimum_ : kDefaultTTL;
        if (IsPlainNumber(word)) {
            ttl = static_cast<int32_t>(kest::LeadingInteger(word, 0, INT32_MAX));
            word = UpperCase(NextWord(text));
        }
        if (word == "CH") return;
        if (word == "IN") word = UpperCase(NextWord(text));
        if (word.empty() || text.empty()) return;

        Dispatch(owner, ttl, word, text);
    }

    ZoneFileData Take() { return std::move(data_); }

  private:
    void Add(std::string name, int32_t type, std::string data, int32_t ttl) {
        data_.Records.push_back(
            MakeRecord(std::move(name), type, std::move(data), ttl, now_, true));
    }

    void Dispatch(const std::string& owner, int32_t ttl, const std::string& type,
                  std::string& text) {
        if (!UsableName(owner)) return;
        if (type == "A") {
            const std::string a = modIP::IPToData(text);
            if (a.size() != 4 || a == std::string(4, '\0')) return;
            Add(owner, modDNS::kTypeA, a, ttl);
        } else if (type == "NS" || type == "CNAME" || type == "PTR") {
            const int32_t t = type == "NS"      ? modDNS::kTypeNS
                              : type == "CNAME" ? modDNS::kTypeCNAME
                                                : modDNS::kTypePTR;
            std::string target = FullName(NextWord(text), origin_);
            if (!UsableName(target)) return;
            Add(owner, t, std::move(target), ttl);
        } else if (type == "MX") {
            const int64_t preference = Number16(NextWord(text));
            const std::string word = NextWord(text);
            const std::string target = FullName(word, origin_);
            if (word.empty() || !UsableName(target)) return;
            Add(owner, modDNS::kTypeMX, modDNS::MakeShortL(preference) + target, ttl);
        } else if (type == "TXT") {
            std::string strings = ParseTXT(text);
            if (strings.empty()) return;
            Add(owner, modDNS::kTypeTXT, std::move(strings), ttl);
        } else if (type == "SRV") {
            std::string data;
            for (int i = 0; i < 3; ++i) data += modDNS::MakeShortL(Number16(NextWord(text)));
            const std::string word = NextWord(text);
            const std::string target = FullName(word, origin_);
            if (word.empty() || !UsableName(target)) return;
            Add(owner, modDNS::kTypeSRV, data + target, ttl);
        } else if (type == "DFCN") {
            std::string wild = owner == "." ? std::string("*.") : "*." + owner;
            std::string target = FullName(NextWord(text), origin_);
            if (!UsableName(target)) return;
            Add(std::move(wild), modDNS::kTypeCNAME, std::move(target), ttl);
        } else if (type == "SOA") {
            Soa(owner, ttl, text);
        }
    }

    // The SOA steps: names completed against the line's owner; each number reached sets its
    // zone value; the record is stored only with all seven fields.
    void Soa(const std::string& owner, int32_t ttl, std::string& text) {
        const std::string mname = FullName(NextWord(text), owner);
        const std::string rname = FullName(NextWord(text), owner);
        std::string data = mname + '\0' + rname + '\0';
        const uint32_t serial = Number32(NextWord(text));
        data_.SOASerial = serial;
        modDNS::AppendLongU(data, serial);
        uint32_t* const timers[] = {&data_.SOARefresh, &data_.SOARetry, &data_.SOAExpire};
        for (uint32_t* timer : timers) {
            if (text.empty()) return;
            *timer = Number32(NextWord(text));
            modDNS::AppendLongU(data, *timer);
        }
        if (text.empty()) return;
        const uint32_t minimum = Number32(NextWord(text));
        soaMinimum_ = static_cast<int32_t>(std::min<uint32_t>(minimum, INT32_MAX));
        modDNS::AppendLongU(data, minimum);
        if (!UsableName(mname) || !UsableName(rname)) return;
        Add(owner, modDNS::kTypeSOA, std::move(data), ttl);
    }

    std::string origin_;
    double now_;
    ZoneFileData data_;
    std::string previousOwner_;
    bool havePrevious_ = false;
    int32_t soaMinimum_ = 0;
};

std::string ReadWhole(const std::filesystem::path& path) {
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::system_error(errno ? errno : EIO, std::generic_category(), path.string());
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed) throw std::system_error(err ? err : EIO, std::generic_category(), path.string());
    return out;
}

// ---- Writers ---------------------------------------------------------------------------------

// A name the reader gets back unchanged: absolute, no empty label, no byte it would change or
// take as a separator, comment or continuation.
bool WritableName(std::string_view n) {
    if (n == ".") return true;
    if (n.size() < 2 || n.back() != '.') return false;
    size_t label = 0;
    for (char c : n) {
        const u8 b = static_cast<u8>(c);
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (b <= 0x20 || b == 0x7F || (c >= 'A' && c <= 'Z') || c == ';' || c == '(' || c == ')')
            return false;
        ++label;
    }
    return true;
}

// A header value word: no blank, no control byte.
bool WritableWord(std::string_view w) {
    if (w.empty()) return false;
    for (char c : w) {
        const u8 b = static_cast<u8>(c);
        if (b <= 0x20 || b == 0x7F) return false;
    }
    return true;
}

// Control bytes dropped, then trimmed: what the reader gives back for a header value.
std::string Printable(std::string_view s) {
    std::string out;
    for (char c : s) {
        const u8 b = static_cast<u8>(c);
        if (b >= 0x20 && b != 0x7F) out.push_back(c);
    }
    return std::string(Trim(out));
}

void HeaderLines(const ZoneFileHeader& header, bool alwaysPrimary,
                 std::vector<std::string>& lines) {
    const std::string primary = Printable(header.PrimaryIP);
    if (alwaysPrimary || !primary.empty()) lines.push_back("; PrimaryIP " + primary);
    std::string notify;
    for (const auto& slave : header.Slaves) {
        if (WritableWord(slave)) notify += " " + slave;
    }
    if (!notify.empty()) lines.push_back("; Notify" + notify);
    if (!header.Secure) lines.push_back("; NotSecure");
}

// The owner column word, or nothing when the owner cannot be written.
std::optional<std::string> OwnerWord(const std::string& origin, const std::string& owner) {
    if (!WritableName(owner)) return std::nullopt;
    std::string w = RelName(origin, owner);
    if (w.empty() || w.front() == '@') return std::nullopt;
    return w;
}

std::optional<std::string> NameField(const std::string& origin, std::string_view name) {
    if (!WritableName(name)) return std::nullopt;
    return RelName(origin, name);
}

// " TTL TYPE data" of a record, or nothing when it cannot be written faithfully.
std::optional<std::string> RecordBody(const std::string& origin, const clDNSRecord& rec,
                                      bool editor) {
    if (rec.mTTL < 0) return std::nullopt;
    std::string body;
    std::string_view d = rec.Data;
    switch (rec.RecType) {
        case modDNS::kTypeA:
            if (d.size() != 4 || d == std::string_view("\0\0\0\0", 4)) return std::nullopt;
            body = "A " + modIP::DataToIP(d);
            break;
        case modDNS::kTypeNS:
        case modDNS::kTypeCNAME:
        case modDNS::kTypePTR: {
            const auto name = NameField(origin, d);
            if (!name) return std::nullopt;
            body = modDNS::RTypeN(rec.RecType) + " " + *name;
            break;
        }
        case modDNS::kTypeMX: {
            if (d.size() < 2) return std::nullopt;
            const auto name = NameField(origin, d.substr(2));
            if (!name) return std::nullopt;
            body = "MX " + std::to_string(modDNS::ExtractShortL(d, false)) + " " + *name;
            break;
        }
        case modDNS::kTypeSRV: {
            if (d.size() < 6) return std::nullopt;
            const auto name = NameField(origin, d.substr(6));
            if (!name) return std::nullopt;
            const char* sep = editor ? "  " : " ";
            std::string_view nums = d;
            body = "SRV " + std::to_string(modDNS::ExtractShortL(nums, true));
            body += sep + std::to_string(modDNS::ExtractShortL(nums, true));
            body += sep + std::to_string(modDNS::ExtractShortL(nums, true));
            body += " " + *name;
            break;
        }
        case modDNS::kTypeTXT: {
            const std::string text = FormatTXT(d);
            if (text.empty()) return std::nullopt;
            body = "TXT " + text;
            break;
        }
        default:
            return std::nullopt;
    }
    return " " + std::to_string(rec.mTTL) + " " + body;
}

std::string SoaNumbers(uint32_t serial, uint32_t refresh, uint32_t retry, uint32_t expire,
                       uint32_t minimum) {
    return std::to_string(serial) + " " + std::to_string(refresh) + " " + std::to_string(retry) +
           " " + std::to_string(expire) + " " + std::to_string(minimum);
}

}  // namespace

// ---- File naming -----------------------------------------------------------------------------

std::string ZoneFileName(std::string_view zoneName) {
    try {
        if (zoneName.empty() || zoneName == ".") return "_root.dns";
        std::string name(zoneName);
        std::replace(name.begin(), name.end(), '/', '~');
        if (name.back() != '.') name.push_back('.');
        return name + "dns";
    } catch (...) {
        kest::ReportError("modZoneFile ZoneFileName");
        return {};
    }
}

bool IsZoneFileName(std::string_view fileName) {
    return fileName.size() >= 4 && StartsWithNoCase(fileName.substr(fileName.size() - 4), ".dns");
}

std::string ZoneNameFromFile(std::string_view fileName) {
    try {
        if (!IsZoneFileName(fileName) || fileName.size() == 4) return {};
        std::string name(fileName.substr(0, fileName.size() - 3));
        std::replace(name.begin(), name.end(), '~', '/');
        if (name == "_root.") return ".";
        return name;
    } catch (...) {
        kest::ReportError("modZoneFile ZoneNameFromFile");
        return {};
    }
}

std::filesystem::path FindZoneFile(const std::filesystem::path& dataDir,
                                   std::string_view zoneName) {
    try {
        const std::string expected = ZoneFileName(zoneName);
        const std::filesystem::path exact = dataDir / expected;
        std::error_code ec;
        if (std::filesystem::exists(exact, ec)) return exact;
        const std::string_view stem = std::string_view(expected).substr(0, expected.size() - 4);
        for (const auto& file : platform::ListFiles(dataDir)) {
            const std::string name = file.filename().string();
            if (name.size() == expected.size() &&
                std::string_view(name).substr(0, stem.size()) == stem && IsZoneFileName(name))
                return file;
        }
        return exact;
    } catch (...) {
        kest::ReportError("modZoneFile FindZoneFile");
        return dataDir / ZoneFileName(zoneName);
    }
}

// ---- Text helpers ----------------------------------------------------------------------------

std::string NextWord(std::string& line) {
    try {
        size_t i = 0;
        while (i < line.size() && IsBlank(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !IsBlank(line[j])) ++j;
        std::string word = line.substr(i, j - i);
        while (j < line.size() && IsBlank(line[j])) ++j;
        line.erase(0, j);
        return word;
    } catch (...) {
        kest::ReportError("modZoneFile NextWord");
        line.clear();
        return {};
    }
}

std::string FullName(std::string_view word, std::string_view origin) {
    try {
        std::string name = modDNS::CleanNameF(word);
        name.push_back('.');
        if (word.find('.') != std::string_view::npos) return name;
        const std::string o = Origin(origin);
        if (o == ".") return name;
        return name + o;
    } catch (...) {
        kest::ReportError("modZoneFile FullName");
        return {};
    }
}

std::string ParseTXT(std::string_view text) {
    try {
        std::string out;
        std::string_view rest = Trim(text);
        while (!rest.empty()) {
            std::string s;
            if (rest.front() != '"') {
                s = std::string(rest);
                rest = {};
            } else {
                const size_t close = rest.find('"', 1);
                if (close == std::string_view::npos) {
                    s = Unescape(rest.substr(1));
                    rest = {};
                } else {
                    s = Unescape(rest.substr(1, close - 1));
                    rest = Trim(rest.substr(close + 1));
                }
            }
            if (s.size() > kMaxString) s.resize(kMaxString);
            if (s.empty()) continue;
            out.push_back(static_cast<char>(s.size()));
            out += s;
        }
        return out;
    } catch (...) {
        kest::ReportError("modZoneFile ParseTXT");
        return {};
    }
}

std::string FormatTXT(std::string_view txtData) {
    try {
        std::string out;
        size_t i = 0;
        while (i < txtData.size()) {
            const size_t len = static_cast<u8>(txtData[i]);
            if (len == 0 || i + 1 + len > txtData.size()) return {};
            modDNS::AppendQuotedTxt(out, txtData.substr(i + 1, len));
            i += 1 + len;
        }
        return out;
    } catch (...) {
        kest::ReportError("modZoneFile FormatTXT");
        return {};
    }
}

std::string RelName(std::string_view zoneName, std::string_view name) {
    try {
        const size_t dot = name.find('.');
        if (dot != std::string_view::npos && dot > 0 && name.substr(dot + 1) == zoneName)
            return std::string(name.substr(0, dot));
        return std::string(name);
    } catch (...) {
        kest::ReportError("modZoneFile RelName");
        return {};
    }
}

bool IsPlainNumber(std::string_view word) {
    if (word.empty() || (word.size() > 1 && word.front() == '0')) return false;
    return std::all_of(word.begin(), word.end(), IsDigit);
}

void ForEachRecordText(
    std::string_view fileText,
    const std::function<void(std::string_view rawLine, std::string& text)>& onRecord) {
    const std::vector<std::string_view> lines = LineViews(fileText);
    // Once a "(" has run to the end of the file unclosed, no later "(" can close either.
    bool continuation = true;
    size_t i = 0;
    while (i < lines.size()) {
        const std::string_view raw = lines[i];
        std::string text = FirstLineText(raw);
        size_t next = i + 1;
        if (!text.empty() && text.back() == '(') {
            text.pop_back();
            bool closed = false;
            if (continuation) {
                for (size_t j = i + 1; j < lines.size(); ++j) {
                    text.push_back(' ');
                    text += ContinuationText(lines[j], closed);
                    if (closed) {
                        next = j + 1;
                        break;
                    }
                }
            }
            if (!closed) {
                // Only the unfinished record is dropped; the lines after it are read again.
                continuation = false;
                ++i;
                continue;
            }
            TrimRight(text);
        }
        onRecord(raw, text);
        i = next;
    }
}

// ---- The server's reader ---------------------------------------------------------------------

std::optional<ZoneFileData> ReadZoneText(std::string_view text, std::string_view zoneName,
                                         double now) {
    try {
        Reader reader(zoneName, now);
        ForEachRecordText(text, [&reader](std::string_view raw, std::string& record) {
            reader.Header(raw);
            reader.Record(record);
        });
        return reader.Take();
    } catch (...) {
        kest::ReportError("clDNSAuthData LoadZone");
        return std::nullopt;
    }
}

std::optional<ZoneFileData> ReadZoneFile(const std::filesystem::path& path,
                                         std::string_view zoneName, double now,
                                         const LogLine& log) {
    std::optional<ZoneFileData> data;
    try {
        data = ReadZoneText(ReadWhole(path), zoneName, now);
    } catch (...) {
        kest::ReportError("clDNSAuthData LoadZone");
    }
    if (!data && log) log(0, "** Error accessing file!");
    return data;
}

// ---- Writers ---------------------------------------------------------------------------------

namespace {

// Record lines in the given order: the owner by RelName only when it differs from the owner of
// the last line written (last), else a blank owner column. SOA records, and in the editor's layout
// the zone's own records, are the caller's; records that cannot be written are left out.
void AppendRecordLines(const std::string& origin, const std::vector<RecordRef>& records,
                       size_t first, bool editor, std::optional<std::string>& last,
                       std::vector<std::string>& lines) {
    for (size_t i = first; i < records.size(); ++i) {
        const auto& rec = records[i];
        if (!rec || rec->RecType == modDNS::kTypeSOA || (editor && rec->Name == origin)) continue;
        const auto body = RecordBody(origin, *rec, editor);
        if (!body) continue;
        std::string line;
        if (last != rec->Name) {
            const auto owner = OwnerWord(origin, rec->Name);
            if (!owner) continue;
            line = *owner;
        }
        lines.push_back(line + *body);
        last = rec->Name;
    }
}

}  // namespace

std::vector<std::string> EditorZoneLines(std::string_view zoneName, const ZoneFileHeader& header,
                                         const EditorSOA& soa,
                                         const std::vector<RecordRef>& records) {
    std::vector<std::string> lines;
    try {
        const std::string origin = Origin(zoneName);
        HeaderLines(header, false, lines);
        bool ownerWritten = false;  // the zone itself is the owner of the last line written
        if (!soa.PrimServ.empty() && WritableName(soa.PrimServ) && WritableName(soa.EMail)) {
            lines.push_back(
                "@ " + std::to_string(soa.Minimum) + " SOA " + soa.PrimServ + " " + soa.EMail +
                " " + SoaNumbers(soa.Serial, soa.Refresh, soa.Retry, soa.Expire, soa.Minimum));
            ownerWritten = true;
        }
        for (const auto& rec : records) {
            if (!rec || rec->Name != origin || rec->RecType == modDNS::kTypeSOA) continue;
            const auto body = RecordBody(origin, *rec, true);
            if (!body) continue;
            // Without an SOA line a blank owner column would have no owner to refer to.
            lines.push_back((ownerWritten ? std::string() : std::string("@")) + *body);
            ownerWritten = true;
        }
        std::optional<std::string> last;
        if (ownerWritten) last = origin;
        AppendRecordLines(origin, records, 0, true, last, lines);
    } catch (...) {
        kest::ReportError("modZoneFile EditorZoneLines");
    }
    return lines;
}

std::vector<std::string> ServerZoneLines(std::string_view zoneName, const ZoneFileHeader& header,
                                         const std::vector<RecordRef>& records) {
    std::vector<std::string> lines;
    try {
        const std::string origin = Origin(zoneName);
        HeaderLines(header, true, lines);
        std::optional<std::string> last;
        size_t first = 0;
        if (!records.empty() && records[0] && records[0]->RecType == modDNS::kTypeSOA) {
            first = 1;
            const clDNSRecord& rec = *records[0];
            const auto soa = modDNS::ParseSOAData(rec.Data);
            std::optional<std::string> owner;
            if (rec.Name == origin)
                owner = "@";
            else
                owner = OwnerWord(origin, rec.Name);
            if (soa && owner && rec.mTTL >= 0 && WritableName(soa->mname) &&
                WritableName(soa->rname)) {
                lines.push_back(
                    *owner + " " + std::to_string(rec.mTTL) + " SOA " + soa->mname + " " +
                    soa->rname + " " +
                    SoaNumbers(soa->serial, soa->refresh, soa->retry, soa->expire, soa->minimum));
                last = rec.Name;
            }
        }
        AppendRecordLines(origin, records, first, false, last, lines);
    } catch (...) {
        kest::ReportError("modZoneFile ServerZoneLines");
    }
    return lines;
}

bool RecordWritable(std::string_view zoneName, const clDNSRecord& rec) {
    try {
        const std::string origin = Origin(zoneName);
        if (rec.RecType == modDNS::kTypeSOA) {
            const auto soa = modDNS::ParseSOAData(rec.Data);
            return soa && rec.mTTL >= 0 && WritableName(soa->mname) && WritableName(soa->rname) &&
                   (rec.Name == origin || OwnerWord(origin, rec.Name));
        }
        return OwnerWord(origin, rec.Name) && RecordBody(origin, rec, false);
    } catch (...) {
        return false;
    }
}

bool WriteZoneLines(const std::filesystem::path& path, const std::vector<std::string>& lines,
                    const std::string& where) {
    try {
        if (path.has_parent_path()) {
            std::error_code ec;
            std::filesystem::create_directories(path.parent_path(), ec);
        }
        platform::WriteFileAtomic(path, platform::JoinCrLf(lines));
        return true;
    } catch (...) {
        kest::ReportError(where);
        return false;
    }
}

}  // namespace modZoneFile
