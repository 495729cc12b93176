#pragma once
// The editor's own zone model and its zone file reader and writer. Names are held in the system's
// text form: lower case, absolute, a dot after every label, "." for the root.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace editor {

inline constexpr int16_t kA = 1, kNS = 2, kCNAME = 5, kPTR = 12, kMX = 15, kTXT = 16, kSRV = 33;

class clDNSRecord {
  public:
    std::string Name;
    int32_t TTL = 0;
    int16_t RecType = 0;
    std::string Data;  // the server's in-memory form of the type
    std::string KeyNo;
};

class clZone {
  public:
    std::string Name;
    std::string PrimServ;  // empty: the zone has no SOA
    std::string EMail;
    uint32_t Serial = 0;
    uint32_t TTL[5] = {0, 0, 0, 0, 0};  // 1 refresh, 2 retry, 3 expire, 4 minimum
    std::string PrimIP;                 // set for a secondary zone
    std::vector<std::string> Slaves;
    bool Secure = true;
    std::vector<clDNSRecord> Records;  // sorted by Name
    std::string File;                  // its file in data/ once read ("" : named after Name)

    // The record with this key, or nothing.
    clDNSRecord* Find(std::string_view key);
    bool Remove(std::string_view key);
};

// Hands out the record keys ("1K", "2K", ...) of one run of the program.
class KeyCounter {
  public:
    std::string Next() { return std::to_string(++count_) + "K"; }

  private:
    int32_t count_ = 0;
};

// ---- Names --------------------------------------------------------------------------------------

// Trimmed, lower case, only a-z 0-9 - . / _ (and with allowWild a leading "*."), no outer dots,
// no doubled dots; never a final dot.
std::string CleanName(std::string_view name, bool allowWild);
// A token with a "." is absolute; any other is completed with the zone name.
std::string QualifyName(std::string_view zoneName, std::string_view token);
// The first label alone when the rest of the name is the zone, else the name unchanged.
std::string RelName(std::string_view zoneName, std::string_view name);
// Takes the first blank-separated word off the line.
std::string NextWord(std::string& line);

// ---- Records ------------------------------------------------------------------------------------

// Gives the record the next key and inserts it in bytewise name order (after equal names);
// returns the key.
std::string AddRecordSorted(std::vector<clDNSRecord>& records, clDNSRecord record,
                            KeyCounter& keys);

// The type word of a code ("A", "MX", ...).
std::string TypeName(int type);
// The strings of TXT data, in order.
std::vector<std::string> TxtStrings(std::string_view data);
// TXT text of a zone file to data: quoted strings with "\ooo" escapes, unquoted text as one
// string, each cut to 255 bytes, empty ones dropped.
std::string ParseTXT(std::string_view text);
// TXT data to zone file text: each string quoted and followed by a blank, with "\ooo" escapes.
std::string FormatTXT(std::string_view data);
// The 16-bit big-endian number at offset (0 when the data is too short).
int32_t Short(std::string_view data, size_t offset);
std::string MakeShortL(int64_t n);

// ---- Zone files ---------------------------------------------------------------------------------

// "example.com." gives "example.com.dns", "." gives "_root.dns", "/" becomes "~".
std::string ZoneFileName(std::string_view zoneName);
// The zone list texts of the ".dns" files of the folder (any case of the ending), bytewise order:
// "example.com", "0/25.1.168.192.in-addr.arpa", "<root>".
std::vector<std::string> ListZones(const std::filesystem::path& dataDir);
// The absolute zone name of a zone list text.
std::string ZoneOfText(std::string_view text);
// The zone list text of an absolute zone name.
std::string TextOfZone(std::string_view zoneName);

enum class ReadResult { Loaded, Missing, Unreadable };

// Reads the zone from the file's text (CR LF or LF lines).
clZone ReadZoneText(std::string_view text, std::string_view zoneName, KeyCounter& keys);
// Reads data/<file> of the zone; a missing file gives an empty zone and Missing, a file that
// exists but cannot be read an empty zone and Unreadable.
clZone ReadZoneFile(const std::filesystem::path& dataDir, std::string_view zoneName,
                    KeyCounter& keys, ReadResult& result);

// The file's lines (without line ends).
std::vector<std::string> ZoneLines(const clZone& zone);
// Writes the zone's file atomically with CR LF line ends; false with the reason in error.
bool WriteZoneFile(const std::filesystem::path& dataDir, const clZone& zone, std::string& error);

}  // namespace editor
