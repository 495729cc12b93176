#pragma once
// The machine-wide start-up list: an XDG autostart entry kestrune.desktop in /etc/xdg/autostart
// (or $KESTRUNE_AUTOSTART_DIR).
#include <filesystem>
#include <string>

namespace platform {

std::filesystem::path AutostartFile();
// Writes the entry running command at log-on; false when it could not be written.
bool SetAutostart(const std::string& command);
// Removes the entry; true when it is gone (or was never there).
bool RemoveAutostart();

}  // namespace platform
