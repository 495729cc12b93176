#include "platform/paths.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : path;
}

std::filesystem::path ProgramDirectoryFor(const std::filesystem::path& executable,
                                          const char* home) {
    std::error_code ec;
    if (home != nullptr && *home != '\0') {
        // Absolute, so a later change of the working folder does not move it.
        auto path = std::filesystem::absolute(home, ec);
        return ec ? std::filesystem::path(home) : path.lexically_normal();
    }
    if (!executable.empty()) {
        const auto folder = executable.parent_path().lexically_normal();
        // /usr/bin is shared by every program: the data goes where Debian keeps state.
        if (folder == "/usr/bin" || folder == "/bin") return kSystemProgramDirectory;
        return folder;
    }
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : cwd;
}

std::filesystem::path ProgramDirectory() {
    return ProgramDirectoryFor(ExecutablePath(), std::getenv("KESTRUNE_HOME"));
}

std::filesystem::path InstalledExamples() {
    const auto exe = ExecutablePath();
    if (exe.empty()) return {};
    const auto dir = exe.parent_path().parent_path() / "share" / "kestrune" / "examples";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path{};
}

std::vector<std::string> SeedProgramDirectory(const std::filesystem::path& dir,
                                              const std::filesystem::path& examples) {
    std::vector<std::string> copied;
    std::error_code ec;
    if (examples.empty() || !std::filesystem::is_directory(examples, ec)) return copied;
    for (const char* sub : {"data", "logs"}) {
        std::filesystem::create_directories(dir / sub, ec);
        if (ec) return copied;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(examples, ec)) {
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& from : files) {
        const auto to = dir / from.filename();
        if (std::filesystem::exists(std::filesystem::symlink_status(to, ec))) continue;
        // No overwrite: a file that appeared meanwhile (another program seeding) is kept.
        if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, ec)) {
            if (ec && ec != std::errc::file_exists) return copied;
            continue;
        }
        copied.push_back(from.filename().string());
    }
    return copied;
}

std::filesystem::path PrepareProgramDirectory() {
    const auto dir = ProgramDirectory();
    SeedProgramDirectory(dir, InstalledExamples());
    return dir;
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
