#pragma once
// The cache's files in the program folder: named.root (root hints) and the hosts file, loaded as
// permanent records; named.cache, the learnt records kept across a restart; snapshot.dat, every
// valid record and the DHCP names, for the cache viewer.
//
// The cache file grammar is that of the zone files without "@", origin, default TTL, header lines
// or DFCN: every name is fully qualified, a line without TTL gives a record that is expired from
// the start. Files are written with CR LF and replaced atomically; read with CR LF or LF.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clDNSRecord.h"
#include "core/clock.h"
#include "server/settings.h"

class clDNSCache;
class clDNSAuthData;
class clLeases;

// The helpers below have no trap of their own: an error reaches the caller's (clCacheFiles).
namespace modCacheFile {

inline constexpr const char* kRootFileName = "named.root";
inline constexpr const char* kCacheFileName = "named.cache";
inline constexpr const char* kSnapshotFileName = "snapshot.dat";
inline constexpr const char* kCacheHeader = "; Kestrune - Cache";

// Reads cache file text and hands each record to onRecord in file order. Non-permanent records
// get the file's TTL less ageSeconds (clamped to 32 bits), written at now; permanent ones the
// file's TTL. Lines that do not fit the grammar are skipped and reading goes on.
void ReadCacheText(std::string_view text, bool permanent, int64_t ageSeconds, double now,
                   const std::function<void(RecordRef)>& onRecord);

// The record lines in list order: the owner only when it differs from the last line written's,
// then the remaining TTL, the type and the data. Expired records, negative markers, types the
// grammar has no word for and records the reader would not get back (a name holding a blank, a
// control byte, ";", "(" or ")", malformed data) give no line. Permanent records only with
// snapShot.
std::vector<std::string> RecordLines(const std::vector<RecordRef>& records, bool snapShot,
                                     double now);

// Two lines per unexpired lease: the name's A line and the address's PTR line, with the whole
// seconds left.
std::vector<std::string> LeaseLines(const clLeases& leases, double now);

// One hosts file line as records (A, PTR, then a CNAME per alias), all permanent with TTL ttl.
// Nothing for a line without names, an IPv6 address, or names that all clean to nothing.
std::vector<RecordRef> HostsLineRecords(std::string_view line, int32_t ttl, double now);

}  // namespace modCacheFile

// Loads and saves the cache's files. The zone store and the lease table may be null (no own
// zones: named.root is always read; no leases: the snapshot has no DHCP lines).
class clCacheFiles {
  public:
    using LogFn = std::function<void(int kind, std::string_view text)>;

    clCacheFiles(clDNSCache& cache, clDNSAuthData* zones, const clLeases* leases,
                 const modMain::Settings& settings, const kest::IClock& clock, LogFn log,
                 std::filesystem::path programDir);

    // Replaces the permanent records: named.root unless the server holds the root zone, then the
    // hosts file (settings.Hosts, when set) with TTL settings.HostsTTL.
    void LoadPerm();
    // Adds the records of named.cache, each TTL less the file's age. A missing file adds nothing.
    void LoadCache();
    // Writes snapshot.dat (snapShot) or named.cache. False after an error, reported under
    // "clDNSCache SaveCache"; the old file is then untouched.
    bool SaveCache(bool snapShot);
    // Reads a cache file into the cache with AddRec; true when it was read to its end.
    bool LoadFile(const std::filesystem::path& path, bool permanent);

    std::filesystem::path RootFile() const { return programDir_ / modCacheFile::kRootFileName; }
    std::filesystem::path CacheFile() const { return programDir_ / modCacheFile::kCacheFileName; }
    std::filesystem::path SnapshotFile() const {
        return programDir_ / modCacheFile::kSnapshotFileName;
    }

  private:
    void AddLine(int kind, std::string_view text) const;
    void LoadHosts();

    clDNSCache& cache_;
    clDNSAuthData* zones_;
    const clLeases* leases_;
    const modMain::Settings& settings_;
    const kest::IClock& clock_;
    LogFn log_;
    std::filesystem::path programDir_;
};
