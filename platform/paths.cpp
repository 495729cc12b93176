#include "platform/paths.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : path;
}

std::filesystem::path ProgramDirectory() {
    std::error_code ec;
    if (const char* home = std::getenv("KESTRUNE_HOME"); home != nullptr && *home != '\0') {
        // Absolute, so a later change of the working folder does not move it.
        auto path = std::filesystem::absolute(home, ec);
        return ec ? std::filesystem::path(home) : path.lexically_normal();
    }
    const auto exe = ExecutablePath();
    if (!exe.empty()) return exe.parent_path();
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : cwd;
}

std::filesystem::path ManualPage(const std::string& page) {
    std::error_code ec;
    const auto exe = ExecutablePath();
    if (!exe.empty()) {
        const auto installed =
            exe.parent_path().parent_path() / "share" / "doc" / "kestrune" / "manual";
        if (std::filesystem::is_directory(installed, ec)) return installed / page;
    }
    return std::filesystem::path(KEST_SOURCE_DIR) / "docs" / "manual" / page;
}

std::string ManualUrl(const std::string& page) { return "file://" + ManualPage(page).string(); }

}  // namespace platform
