#pragma once
// Zone files: the file naming both ways, the server's reader with every rule of the grammar, the
// text helpers shared with the cache file reader (NextWord, FullName, ParseTXT, FormatTXT,
// RelName) and the two writers (the editor's layout and the server's layout after a transfer).
//
// Files are plain 8-bit text, one record per line; written with CR LF, read with CR LF or LF.
// Rewritten files are replaced atomically. Names are in the server's text form (lower case, a dot
// after every label, "." for the root); a zone name keeps the case of its file name, the names of
// the records read are lower case all the same.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSRecord.h"

namespace modZoneFile {

// The activity log as the reader and writers see it: AddLine (kind, text).
using LogLine = std::function<void(int kind, std::string_view text)>;

// ---- File naming -----------------------------------------------------------------------------

// "." gives "_root.dns"; any other name N gives N with every "/" replaced by "~", then "dns"
// ("example.com." gives "example.com.dns"). A name without its final dot gets one first.
std::string ZoneFileName(std::string_view zoneName);

// True when the file name ends in ".dns", in any case.
bool IsZoneFileName(std::string_view fileName);

// The zone of a file name: every "~" back to "/", then everything up to and including the last
// "."; "_root." is the root "."; the case is kept ("Example.COM.dns" gives "Example.COM.").
// "" for a name that is not a zone file name (see IsZoneFileName) or has nothing before ".dns".
std::string ZoneNameFromFile(std::string_view fileName);

// The zone's file in dataDir (the program folder's "data"): the file whose name is
// ZoneFileName(zoneName) with its "dns" ending in any case, the exact spelling first (bytewise
// order among the others); the exact spelling when no such file exists.
std::filesystem::path FindZoneFile(const std::filesystem::path& dataDir, std::string_view zoneName);

// ---- Text helpers ----------------------------------------------------------------------------

// Takes the first word off line: leading blanks removed, the characters up to the next blank
// (or the end) returned, line left as what follows that blank with its leading blanks removed.
std::string NextWord(std::string& line);

// Completes a name against the origin O (a zone name, or a line's owner): the word normalised by
// CleanNameF; a word holding a "." anywhere is fully qualified (normalised word and "."; "." is
// the root), any other word gets ".", and O (nothing more for O = "."). The result is lower case.
std::string FullName(std::string_view word, std::string_view origin);

// TXT data text to character strings (the in-memory TXT form): quoted strings with "\" and three
// octal digits as the escape (a "\" not followed by three octal digits of a byte value stands for
// itself), unquoted text taken whole, blanks included, as one string; strings cut to 255 bytes,
// empty strings dropped. "" when no string is left.
std::string ParseTXT(std::string_view text);

// TXT data to text: each string as a double quote, its bytes, a double quote and one blank; a byte
// outside 32..126, a double quote, "\", "(", ")" and ";" are written "\" and three octal digits.
// "" for data that is not a well-formed run of non-empty character strings.
std::string FormatTXT(std::string_view txtData);

// The name as written in a zone file: its first label alone when the part after its first dot
// equals zoneName ("pc1.example.com." in "example.com." gives "pc1"), else the name unchanged.
std::string RelName(std::string_view zoneName, std::string_view name);

// True when the word is a plain decimal number: digits only, no sign, no leading zero ("0" is
// one; "03600", "+5", "1h" are not). The TTL test of the zone and cache file grammars.
bool IsPlainNumber(std::string_view word);

// Splits file text (CR LF or LF) into record texts by the rules both file grammars share: each
// line cut at its first ";", tabs made blanks, trailing blanks removed, leading blanks kept; a
// line ending in "(" continues (the "(" dropped) with the following lines, each trimmed, cut at
// its first ";" and before its first ")", appended after one blank, up to the line that holds a
// ")". onRecord gets the raw first line of each record (for the header lines, which are only
// looked for there) and the record text, possibly empty. A "(" that is never closed drops only
// its own record: the lines after it are read again as plain lines, without continuation.
void ForEachRecordText(
    std::string_view fileText,
    const std::function<void(std::string_view rawLine, std::string& text)>& onRecord);

// ---- The server's reader ---------------------------------------------------------------------

// What a zone file gives the zone store: the header settings, the SOA values the file reached
// (defaults as a new zone has them; an incomplete SOA line still sets the values it reached) and
// the records in file order (Permanent, TTL set at `now`), each to be added with AddRec.
struct ZoneFileData {
    std::string PrimaryIP;            // "; PRIMARYIP " line, trimmed; empty: a primary zone
    std::vector<std::string> Slaves;  // "; NOTIFY " line words, in order
    bool Secure = true;               // false with a "; NOTSECURE" line
    uint32_t SOASerial = 0;
    uint32_t SOARefresh = 300;
    uint32_t SOARetry = 300;
    uint32_t SOAExpire = 300;
    std::vector<RecordRef> Records;
};

// Reads the text of a zone file of the zone zoneName (CR LF or LF lines). Lines that do not fit
// the grammar are skipped and reading goes on; numbers are clamped to their field's range (TTLs
// to 0..2147483647, MX and SRV numbers to 0..65535, SOA numbers to unsigned 32 bits).
// Nothing only on an unexpected failure, already reported under "clDNSAuthData LoadZone" (the
// caller then logs "** Error accessing file!" and does not add the zone).
std::optional<ZoneFileData> ReadZoneText(std::string_view text, std::string_view zoneName,
                                         double now);

// Reads the zone file at path. When it cannot be read: reports the error (errno and its text)
// under "clDNSAuthData LoadZone", logs "** Error accessing file!" (kind 0) through log when
// given, and returns nothing; the zone is then not to be added.
std::optional<ZoneFileData> ReadZoneFile(const std::filesystem::path& path,
                                         std::string_view zoneName, double now,
                                         const LogLine& log = {});

// ---- Writers
// ----------------------------------------------------------------------------------------- Both
// skip what they cannot write so that the reader gets it back unchanged: types other than A, NS,
// CNAME, PTR, MX, TXT and SRV, an A record of 0.0.0.0 or not 4 bytes, malformed data, a negative
// TTL, names not fully qualified or holding a blank, a control byte, an upper-case letter, ";",
// "(", ")" or an empty label (and owners beginning with "@"). Records are written with their mTTL.

struct ZoneFileHeader {
    std::string PrimaryIP;  // "" for a primary zone
    std::vector<std::string> Slaves;
    bool Secure = true;
};

// The SOA as the editor holds it; PrimServ "" means the zone has no SOA line.
struct EditorSOA {
    std::string PrimServ;  // absolute names
    std::string EMail;
    uint32_t Serial = 0;
    uint32_t Refresh = 0;  // TTL(1)
    uint32_t Retry = 0;    // TTL(2)
    uint32_t Expire = 0;   // TTL(3)
    uint32_t Minimum = 0;  // TTL(4), also the SOA line's TTL
};

// The editor's layout: "; PrimaryIP " (when set), "; Notify" (when there are secondaries),
// "; NotSecure" (when not secure), the "@" SOA line, the records owned by the zone itself with a
// blank owner column (the first of them with "@" when there is no SOA line, so they are not
// lost), then the other records in the given order, the owner written on the first line of each
// run of one owner. SRV numbers are separated by two blanks. SOA records in the list are skipped.
std::vector<std::string> EditorZoneLines(std::string_view zoneName, const ZoneFileHeader& header,
                                         const EditorSOA& soa,
                                         const std::vector<RecordRef>& records);

// The server's layout after a zone transfer: "; PrimaryIP " (always), "; Notify", "; NotSecure",
// the first record (the SOA) as the "@" line with both names in full, then every further record
// in the order received, the owner written when it differs from the owner of the last line
// written. SOA records after the first are not written. No records: the header lines only.
std::vector<std::string> ServerZoneLines(std::string_view zoneName, const ZoneFileHeader& header,
                                         const std::vector<RecordRef>& records);

// True when the server's writer keeps the record as a line of the zone's file (an SOA as the
// "@" line): what a zone transfer may keep.
bool RecordWritable(std::string_view zoneName, const clDNSRecord& rec);

// Writes the lines with CR LF to path, replacing the file atomically (its folder is made when
// missing). False after reporting the error under `where` (e.g. "clDNSAuthData GotZTransfer").
bool WriteZoneLines(const std::filesystem::path& path, const std::vector<std::string>& lines,
                    const std::string& where);

}  // namespace modZoneFile
