#pragma once
// The DHCP lease table: every address the DHCP server has offered or acknowledged, with the
// client's identity and DNS name. It decides which addresses are free, survives restarts in
// dhcp.dat, and is read by the DNS side (zone store and cache answer A and PTR questions for
// unexpired leases).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "server/dhcp/clDHCPif.h"
#include "server/settings.h"

class clLease {
  public:
    double Expires = 0;      // valid while later than now (days, UTC)
    std::string IPaddr;      // dotted
    std::string ClientName;  // full DNS name with final "."
    std::string ClientID;    // option 61, raw bytes; empty when the client sent none
    std::string HWAddr;      // hardware address, raw bytes

    bool ValidAt(double now) const { return Expires > now; }
    bool operator==(const clLease&) const = default;
};

namespace modDHCP {

// Each byte as two upper-case hexadecimal digits.
std::string HWToHex(std::string_view bytes);
// Bytes from pairs of hexadecimal digits; a final odd character is ignored, a pair that is not
// hexadecimal reads as far as its digits go (like the number reader: "0G" is 0).
std::string HexToHW(std::string_view text);

// The file's line for one lease: name, address, client ID hex, hardware hex, local expiry time.
std::string LeaseLine(const clLease& lease, const kest::IClock& clock);
// One line of the file (either form); nothing for a comment, blank or malformed line.
std::optional<clLease> ParseLeaseLine(std::string_view line, const kest::IClock& clock);

inline constexpr const char* kLeaseFileName = "dhcp.dat";
inline constexpr const char* kLeaseFileHeader = "; Kestrune - DHCP Leases";

}  // namespace modDHCP

// The lease table. One per server; the DHCP server changes it, the DNS side reads it.
class clLeases {
  public:
    // The file is programDir / "dhcp.dat". settings.Name is read at every ValidLease.
    clLeases(const modMain::Settings& settings, const kest::IClock& clock,
             std::filesystem::path programDir);

    // ---- The table, in order ----
    const std::vector<clLease>& Leases() const { return leases_; }
    size_t Count() const { return leases_.size(); }
    bool Empty() const { return leases_.empty(); }
    // Appends a lease at the end.
    void Append(clLease lease);
    // Removes the first lease of that client; true when one was removed. A client is its client
    // identifier; one that sent none is told by its hardware address (among leases without
    // identifier), since all such clients share the empty identifier.
    bool RemoveFirstClientID(std::string_view clientID, std::string_view hwAddr = {});
    // Removes every lease of that address (the leases window's delete).
    void RemoveAddress(std::string_view address);
    // Empties the table.
    void Clear();

    // ---- The table's operations ----
    // True when address may be given to a client named name on interface f. Lenient refuses only
    // addresses of unexpired leases but every name that any lease carries; strict the reverse.
    bool ValidLease(const clDHCPif& f, std::string_view address, std::string_view name,
                    bool lenient) const;
    // ValidLease's address tests alone (empty or 0.0.0.0, own address, scope, leased).
    bool ValidAddress(const clDHCPif& f, std::string_view address, bool lenient) const;
    // Removes every lease whose address equals address or whose name equals name.
    void Remove(std::string_view address, std::string_view name);
    // The first lease of that client (as RemoveFirstClientID tells it) expires now; it stays in
    // the table. An empty identifier without hardware address matches nothing.
    void Release(std::string_view clientID, std::string_view hwAddr = {});
    // Replaces dhcp.dat atomically with the header and one line per lease; false after an error
    // report when it could not be written.
    bool SaveLeases();
    // Empties the table and reads dhcp.dat; a missing file gives an empty table.
    void Load();

    // ---- State saved soon after it changes ----
    // True when the table changed since the last Load or successful save.
    bool Changed() const { return changed_; }
    // Saves when the table changed; the server calls it from its timer. True when nothing was
    // pending or the save succeeded. After a failed save it waits a minute before trying again,
    // so a full disk gives one report a minute, not one a tick.
    bool SaveIfChanged();
    static constexpr int64_t kRetryMs = 60'000;

    // ---- Look-ups of the DNS side ----
    // Unexpired leases named name (exact bytes; names arrive lower case), in table order.
    std::vector<const clLease*> ValidByName(std::string_view name) const;
    // Unexpired leases of that dotted address, in table order.
    std::vector<const clLease*> ValidByAddress(std::string_view address) const;

    // Called after every change and after Load (the leases window refreshes itself from it).
    void SetObserver(std::function<void()> observer) { observer_ = std::move(observer); }

    std::filesystem::path FilePath() const { return file_; }

    // Whether lease belongs to the client of that identifier or, without one, hardware address.
    static bool SameClient(const clLease& lease, std::string_view clientID,
                           std::string_view hwAddr);

  private:
    void Touched();

    const modMain::Settings& settings_;
    const kest::IClock& clock_;
    std::filesystem::path file_;
    std::vector<clLease> leases_;
    bool changed_ = false;
    bool saveFailed_ = false;
    int64_t failedAtMs_ = 0;  // monotonic time of the last failed save
    std::function<void()> observer_;
};
