#include "platform/autostart.h"

#include <cstdlib>
#include <system_error>

#include "platform/files.h"

namespace platform {

std::filesystem::path AutostartFile() {
    const char* dir = std::getenv("KESTRUNE_AUTOSTART_DIR");
    const std::filesystem::path folder = dir && *dir ? dir : "/etc/xdg/autostart";
    return folder / "kestrune.desktop";
}

bool SetAutostart(const std::string& command) {
    try {
        std::error_code ec;
        std::filesystem::create_directories(AutostartFile().parent_path(), ec);
        WriteFileAtomic(AutostartFile(), "[Desktop Entry]\nType=Application\nName=Kestrune\nExec=" +
                                             command + "\nX-GNOME-Autostart-enabled=true\n");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool RemoveAutostart() {
    std::error_code ec;
    std::filesystem::remove(AutostartFile(), ec);
    return !ec;
}

}  // namespace platform
