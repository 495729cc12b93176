#include "server/replication/master_list.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/report.h"
#include "platform/files.h"
#include "server/authority/zonefile.h"

namespace modReplication {
namespace {

constexpr int kLogEvent = 0;

std::string Shown(const std::string& name) {
    return name == "." ? "<root>" : name;
}

std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

int64_t WholeSeconds(double days) {
    return static_cast<int64_t>(std::llround(days * 86400.0));
}

// A file's modification time in whole seconds (days, UTC). Throws when it cannot be read.
double FileTime(const std::filesystem::path& path) {
    const auto ft = std::filesystem::last_write_time(path);
    const auto sys = std::chrono::file_clock::to_sys(ft);
    return kest::UnixToDays(
        std::chrono::floor<std::chrono::seconds>(sys).time_since_epoch().count());
}

// A zone name the rest of the server can hold: what cleaning it leaves unchanged.
bool CleanZoneName(const std::string& name) {
    if (name == ".") return true;
    if (name.size() < 2 || name.back() != '.') return false;
    std::string lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return modDNS::CleanNameF(lower.substr(0, lower.size() - 1)) + "." == lower;
}

bool SameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ea, eb;
    const auto ca = std::filesystem::canonical(a, ea);
    const auto cb = std::filesystem::canonical(b, eb);
    return !ea && !eb && ca == cb;
}

}  // namespace

clMasterList::clMasterList(clDNSAuthData& store, std::filesystem::path programDir,
                           std::function<void()> pump)
    : store_(store), programDir_(std::move(programDir)), pump_(std::move(pump)) {}

double clMasterList::ToLocal(double utc) const {
    return store_.Clock().ToLocal(utc);
}

double clMasterList::FromLocal(double local) const {
    const double now = store_.Clock().Now();
    return local - (store_.Clock().ToLocal(now) - now);
}

bool clMasterList::Due() const {
    const int minutes = store_.Settings().MasterSync > 0 ? store_.Settings().MasterSync : 1;
    return (store_.Clock().Now() - LastSync) * 1440.0 > minutes - 1e-9;
}

void clMasterList::MLSync() {
    try {
        LastSync = store_.Clock().Now();
        const std::string dir = store_.Settings().MasterDir;
        if (dir.empty()) return;
        store_.AddLine(kLogEvent, "Synchronizing with \"" + dir + "\"");
        for (const auto& zone : store_.Zones()) {
            if (zone) zone->Checked = false;
        }

        struct Found {
            std::filesystem::path path;
            std::string zoneName;
            double time;
        };
        std::vector<Found> files;
        try {
            for (const auto& path : platform::ListFiles(dir)) {
                const std::string fileName = path.filename().string();
                if (!modZoneFile::IsZoneFileName(fileName)) continue;
                files.push_back({path, modZoneFile::ZoneNameFromFile(fileName), FileTime(path)});
            }
        } catch (...) {
            files.clear();
        }
        if (files.empty()) {
            store_.AddLine(kLogEvent, "** Failed to synchronize!");
            return;
        }
        // The master directory may be the data folder itself: then nothing is copied.
        const bool sameFolder = SameFolder(dir, store_.DataDir());

        for (const auto& file : files) {
            if (!CleanZoneName(file.zoneName)) continue;
            const auto zone = store_.GetZone(file.zoneName);
            if (zone && WholeSeconds(zone->FILETIME) == WholeSeconds(file.time)) {
                zone->Checked = true;
                continue;
            }
            store_.AddLine(kLogEvent, std::string(zone ? "-> Updated zone: " : "-> New zone: ") +
                                          Shown(file.zoneName));
            try {
                if (!sameFolder) {
                    const auto text = platform::ReadFile(file.path);
                    if (!text) continue;
                    const auto target = store_.DataDir() / file.path.filename();
                    std::error_code ec;
                    std::filesystem::create_directories(store_.DataDir(), ec);
                    platform::WriteFileAtomic(target, *text);
                }
            } catch (...) {
                kest::ReportError("clDNSAuthData MLSync");
                continue;
            }
            store_.LoadZone(file.zoneName, 0, file.time);
            store_.Notify(file.zoneName);
        }

        // Notifications let events run: decide removals on what the store holds now.
        std::vector<std::string> unchecked;
        for (const auto& zone : store_.Zones()) {
            if (zone && !zone->Checked) unchecked.push_back(zone->Name);
        }
        for (const auto& name : unchecked) {
            try {
                const auto zone = store_.GetZone(name);
                if (!zone || zone->Checked) continue;
                store_.AddLine(kLogEvent, "-> Removed Zone: " + Shown(name));
                std::error_code ec;
                std::filesystem::remove(store_.ZoneFilePath(name), ec);
                store_.ZoneRemove(name);
            } catch (...) {
            }
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData MLSync");
    }
}

void clMasterList::MLLoad() {
    try {
        const auto text = platform::ReadFile(File());
        if (!text) return;
        for (const auto& raw : platform::SplitLines(*text)) {
            const std::string line = Trim(raw);
            const size_t blank = line.find(' ');
            if (blank == std::string::npos) continue;
            const auto when = kest::ParseDateTime(Trim(line.substr(blank + 1)));
            if (!when) continue;
            const auto zone = store_.GetZone(line.substr(0, blank));
            if (zone) zone->FILETIME = FromLocal(*when);
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData MLLoad");
    }
}

std::vector<std::string> clMasterList::Lines() const {
    std::vector<std::string> lines;
    for (const auto& zone : store_.Zones()) {
        if (zone) lines.push_back(zone->Name + " " + kest::FormatDateTime(ToLocal(zone->FILETIME)));
    }
    return lines;
}

std::string clMasterList::Key() const {
    std::string key;
    for (const auto& zone : store_.Zones()) {
        if (!zone) continue;
        key += zone->Name;
        key.push_back('\0');
        key += std::to_string(WholeSeconds(zone->FILETIME));
        key.push_back('\0');
    }
    return key;
}

bool clMasterList::MLSave() {
    try {
        if (store_.Zones().empty()) return true;
        const std::string key = Key();
        platform::WriteFileAtomic(File(), platform::JoinCrLf(Lines()));
        savedKey_ = key;
        saved_ = true;
        return true;
    } catch (...) {
        kest::ReportError("clDNSAuthData MLSave");
        return false;
    }
}

void clMasterList::MLSaveIfChanged() {
    try {
        if (store_.Zones().empty()) return;
        if (saved_ && Key() == savedKey_) return;
        MLSave();
    } catch (...) {
        kest::ReportError("clDNSAuthData MLSave");
    }
}

}  // namespace modReplication
