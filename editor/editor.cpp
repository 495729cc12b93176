#include "editor/editor.h"

#include <system_error>

#include "core/datetime.h"
#include "core/numtext.h"
#include "platform/files.h"

namespace editor {
namespace {

std::string Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Key (trimmed, upper case) and value (trimmed) of each line, split at the first colon.
template <typename Each>
void ForEachSetting(const std::filesystem::path& file, Each each) {
    const auto text = platform::ReadFile(file);
    if (!text) return;
    for (const std::string& line : platform::SplitLines(*text)) {
        const size_t colon = line.find(':');
        const std::string key = Upper(Trimmed(std::string_view(line).substr(0, colon)));
        const std::string value = colon == std::string::npos
                                      ? std::string()
                                      : Trimmed(std::string_view(line).substr(colon + 1));
        each(key, value);
    }
}

}  // namespace

ServerSettings LoadServerSettings(const std::filesystem::path& programDir) {
    ServerSettings s;
    ForEachSetting(programDir / "kestrund.ini", [&s](const std::string& key, const std::string& v) {
        if (key == "NAME") {
            s.Name = CleanName(v, false);
        } else if (key == "RELOADPORT") {
            s.ReloadPort = kest::LeadingInt32(v);
        } else if (key == "PRIMARYIP") {
            s.PrimaryIP = v;
        } else if (key == "DNSPORT") {
            const int32_t port = kest::LeadingInt32(v);
            s.DNSPort = port >= 1 && port <= 65535 ? port : 53;
        } else if (key == "MASTERDIR") {
            s.MasterDir = v;
        }
    });
    return s;
}

clEditor::clEditor(std::filesystem::path programDir, const kest::IClock& clock,
                   IReloadSender& sender, platform::IPrompt& prompt)
    : programDir_(std::move(programDir)), clock_(clock), sender_(sender), prompt_(prompt) {
    Defaults[8] = "3600";
    Defaults[9] = "86400";
    Defaults[10] = "3600";
    Defaults[11] = "777600";
    Defaults[13] = "1";
}

void clEditor::LoadServerSettings() {
    Server = editor::LoadServerSettings(programDir_);
}

void clEditor::LoadEditorSettings() {
    ForEachSetting(programDir_ / "kestzone.ini",
                   [this](const std::string& key, const std::string& v) {
                       if (key == "REVERSE") {
                           ReverseMappings.push_back(v);
                       } else if (key == "DEFAULT") {
                           std::string rest = v;
                           const std::string index = NextWord(rest);
                           if (!kest::IsWholeNumber(index)) return;
                           const int64_t i = kest::LeadingInteger(index, -1, 14);
                           if (i < 1 || i > 13) return;
                           Defaults[static_cast<size_t>(i)] = rest;
                       }
                   });
}

bool clEditor::SaveEditorSettings() {
    std::vector<std::string> lines;
    for (int i = 1; i <= 13; ++i)
        if (!Defaults[static_cast<size_t>(i)].empty())
            lines.push_back("Default: " + std::to_string(i) + " " +
                            Defaults[static_cast<size_t>(i)]);
    for (const auto& r : ReverseMappings) lines.push_back("Reverse: " + r);
    try {
        platform::WriteFileAtomic(programDir_ / "kestzone.ini", platform::JoinCrLf(lines));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool clEditor::MayEdit() {
    if (Server.MasterDir.empty()) return true;
    prompt_.Message(platform::IPrompt::Icon::Information, kTitle,
                    "This server is currently configured to copy\n"
                    "Zone files from another directory!");
    return false;
}

void clEditor::LoadZone(const std::string& zoneText) {
    ReadResult result = ReadResult::Loaded;
    Zone = ReadZoneFile(DataDir(), ZoneOfText(zoneText), Keys, result);
    ZoneChanged = false;
    ZoneReadable = result != ReadResult::Unreadable;
    if (!ZoneReadable) {
        prompt_.Message(platform::IPrompt::Icon::Warning, kTitle,
                        "Could not read the zone file " + (DataDir() / Zone.File).string() +
                            "!\nThe zone is shown empty and will not be saved.");
    }
    ZoneSerial = Zone.Serial;
    if (ZoneEditable()) MergePendingPTR();
}

void clEditor::MergePendingPTR() {
    for (auto it = PendingPTR.begin(); it != PendingPTR.end();) {
        std::string rest = *it;
        const std::string zone = NextWord(rest);
        if (Lower(zone) + "." != Zone.Name) {
            ++it;
            continue;
        }
        const std::string label = NextWord(rest);
        clDNSRecord ptr;
        ptr.Name = label + "." + Zone.Name;
        ptr.Data = rest + ".";
        ptr.RecType = kPTR;
        ptr.TTL = 3600;
        std::erase_if(Zone.Records, [&](const clDNSRecord& r) {
            return r.RecType == kPTR && r.Name == ptr.Name;
        });
        AddRecordSorted(Zone.Records, std::move(ptr), Keys);
        it = PendingPTR.erase(it);
        ZoneChanged = true;
    }
}

bool clEditor::CommitZone() {
    if (!ZoneChanged) return true;
    if (!ZoneReadable) return false;
    const uint32_t before = Zone.Serial;
    if (Zone.PrimIP.empty() && static_cast<int64_t>(Zone.Serial) == ZoneSerial) {
        const std::string today = kest::FormatDateCompact(clock_.LocalNow()) + "01";
        const auto candidate = static_cast<uint32_t>(kest::LeadingInteger(today, 0, UINT32_MAX));
        Zone.Serial = candidate > Zone.Serial ? candidate : Zone.Serial + 1;
    }
    std::string error;
    if (!WriteZoneFile(DataDir(), Zone, error)) {
        Zone.Serial = before;
        const std::string file = Zone.File.empty() ? ZoneFileName(Zone.Name) : Zone.File;
        prompt_.Message(
            platform::IPrompt::Icon::Error, kTitle,
            "Could not save the zone file " + (DataDir() / file).string() + "!\n" + error);
        return false;
    }
    ZoneChanged = false;
    ZoneSerial = Zone.Serial;
    SignalServer("reload ", Zone.Name);
    return true;
}

bool clEditor::DeleteZoneFile(const std::string& zoneText) {
    const std::string zoneName = ZoneOfText(zoneText);
    std::string file = ZoneFileName(zoneName);
    // The file the zone was read from, when it is this zone (its ending may differ in case).
    if (zoneText == CurrentZoneText && !Zone.File.empty()) file = Zone.File;
    std::error_code ec;
    std::filesystem::remove(DataDir() / file, ec);
    if (ec) {
        prompt_.Message(
            platform::IPrompt::Icon::Error, kTitle,
            "Could not delete the zone file " + (DataDir() / file).string() + "!\n" + ec.message());
        return false;
    }
    return true;
}

void clEditor::SignalServer(const std::string& verb, const std::string& zoneName) {
    // The server binds a new port at every start: read the one it published last.
    Server.ReloadPort = editor::LoadServerSettings(programDir_).ReloadPort;
    const int32_t port = Server.ReloadPort;
    if (port <= 0 || port > 65535) return;
    sender_.Send(verb + zoneName, static_cast<uint16_t>(port));
}

}  // namespace editor
