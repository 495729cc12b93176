#pragma once
// What lies under the editor's windows: the two settings files, the zone being edited, saving it
// with the serial rule, and the datagrams that tell the running server to reload or drop a zone.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/clock.h"
#include "editor/zone.h"
#include "platform/host.h"

namespace editor {

// Title of the editor's message boxes.
inline constexpr const char* kTitle = "Kestrune";

// What the editor reads from the server's settings file.
struct ServerSettings {
    std::string Name;  // cleaned, no final dot
    int32_t ReloadPort = 0;
    std::string PrimaryIP = "127.0.0.1";
    int32_t DNSPort = 53;
    std::string MasterDir;
};
// The settings of kestrund.ini in the folder; the defaults when it is missing.
ServerSettings LoadServerSettings(const std::filesystem::path& programDir);

// Sends one datagram to 127.0.0.1 at a port; errors are the sender's to ignore.
class IReloadSender {
  public:
    virtual ~IReloadSender() = default;
    virtual void Send(const std::string& text, uint16_t port) = 0;
};

class clEditor {
  public:
    clEditor(std::filesystem::path programDir, const kest::IClock& clock, IReloadSender& sender,
             platform::IPrompt& prompt);

    std::filesystem::path ProgramDir() const { return programDir_; }
    std::filesystem::path DataDir() const { return programDir_ / "data"; }

    void LoadServerSettings();
    void LoadEditorSettings();
    // Rewrites kestzone.ini; false when it could not be written.
    bool SaveEditorSettings();

    // Reads the zone of a zone list text into Zone and merges pending PTR records; a file that
    // exists but cannot be read is shown with a warning and the zone is not editable.
    void LoadZone(const std::string& zoneText);
    // Saves the zone when it changed, with the serial rule, and asks the server to reload it.
    // A failed write is shown, keeps ZoneChanged and sends nothing. True when nothing is left
    // unsaved.
    bool CommitZone();
    // Deletes the zone file of a zone list text; a failure is shown and nothing is sent.
    bool DeleteZoneFile(const std::string& zoneText);
    // "reload " or "unload " with the zone name, to the port kestrund.ini names now.
    void SignalServer(const std::string& verb, const std::string& zoneName);

    // False, after saying why, while a master directory is set: the zone files then belong to
    // the master list and are not edited here.
    bool MayEdit();

    // Primary zones that were read whole can be changed.
    bool ZoneEditable() const { return Zone.PrimIP.empty() && ZoneReadable; }

    ServerSettings Server;
    std::array<std::string, 14> Defaults;  // 1 to 13
    std::vector<std::string> ReverseMappings;
    std::vector<std::string> PendingPTR;
    KeyCounter Keys;

    clZone Zone;
    bool ZoneChanged = false;
    int64_t ZoneSerial = 0;  // -1: a serial typed for a new zone, kept on the next save
    bool ZoneReadable = true;
    std::string CurrentZoneText = "*";

    platform::IPrompt& Prompt() { return prompt_; }

  private:
    void MergePendingPTR();

    std::filesystem::path programDir_;
    const kest::IClock& clock_;
    IReloadSender& sender_;
    platform::IPrompt& prompt_;
};

}  // namespace editor
