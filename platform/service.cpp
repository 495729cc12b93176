#include "platform/service.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/unit_template.h"

extern char** environ;

namespace platform {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// systemd expands % specifiers everywhere and $ in command lines; control bytes would break the
// line.
std::string EscapeValue(const std::string& text, bool commandLine) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += ' ';
        } else if (c == '%') {
            out += "%%";
        } else if (c == '$' && commandLine) {
            out += "$$";
        } else {
            out += c;
        }
    }
    return out;
}

// One word of ExecStart=, quoted when it holds anything but plain path characters.
std::string CommandWord(const std::string& word) {
    const std::string escaped = EscapeValue(word, true);
    bool plain = !escaped.empty();
    for (char c : escaped) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+=:,%$", c))) {
            plain = false;
            break;
        }
    }
    if (plain) return escaped;
    std::string out = "\"";
    for (char c : escaped) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : EscapeValue(text, false)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool SendNotify(const std::string& message) {
    const std::string path = Env("NOTIFY_SOCKET");
    if (path.empty()) return false;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path || (path[0] != '/' && path[0] != '@')) return false;
    std::memcpy(sa.sun_path, path.data(), path.size());
    if (path[0] == '@') sa.sun_path[0] = '\0';  // abstract namespace
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                                 (path[0] == '@' ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const ssize_t n = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&sa), len);
    ::close(fd);
    return n == static_cast<ssize_t>(message.size());
}

constexpr int kCommandTimeoutMs = 120'000;

}  // namespace

std::filesystem::path Service::UnitDirectory() {
    const std::string dir = Env("KESTRUNE_UNIT_DIR");
    return dir.empty() ? std::filesystem::path("/etc/systemd/system") : std::filesystem::path(dir);
}

std::string Service::SystemctlProgram() {
    const std::string program = Env("KESTRUNE_SYSTEMCTL");
    return program.empty() ? "systemctl" : program;
}

std::filesystem::path Service::UnitFile(const std::string& serviceName) {
    return UnitDirectory() / (serviceName + ".service");
}

bool Service::ValidServiceName(const std::string& serviceName) {
    if (serviceName.empty() || serviceName.size() > 200 || serviceName[0] == '.') return false;
    for (char c : serviceName) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr(":-_.\\@", c)))
            return false;
    }
    return true;
}

std::string Service::UnitTextFor(const std::string& description,
                                 const std::filesystem::path& execPath,
                                 const std::vector<std::string>& args,
                                 const Environment& environment, const std::string& user,
                                 const std::string& group,
                                 const std::filesystem::path& programDir) {
    std::string exec = CommandWord(execPath.string());
    for (const auto& a : args) exec += " " + CommandWord(a);
    std::string env;
    for (const auto& [key, value] : environment) {
        env += "Environment=" + Quoted(key + "=" + value) + "\n";
    }
    const std::vector<std::pair<std::string, std::string>> fields{
        {"@DESCRIPTION@", EscapeValue(description, false)},
        {"@ENVIRONMENT@", env},
        {"@EXEC@", exec},
        {"@USER@", EscapeValue(user, false)},
        {"@GROUP@", EscapeValue(group, false)},
        {"@PROGRAMDIR@", CommandWord(programDir.string())},
    };
    std::string text = kUnitTemplate;
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('@', at);
        if (open == std::string::npos) break;
        out.append(text, at, open - at);
        bool replaced = false;
        for (const auto& [token, value] : fields) {
            if (text.compare(open, token.size(), token) == 0) {
                out += value;
                at = open + token.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += '@';
            at = open + 1;
        }
    }
    if (at < text.size()) out.append(text, at, std::string::npos);
    return out;
}

std::string Service::UnitText(const std::string& description, const std::filesystem::path& execPath,
                              const std::vector<std::string>& args,
                              const Environment& environment) {
    const char* home = nullptr;
    for (const auto& [key, value] : environment) {
        if (key == "KESTRUNE_HOME") home = value.c_str();
    }
    const auto dir = ProgramDirectoryFor(execPath, home);
    std::string userName = "root";
    std::string groupName = "root";
    struct stat st{};
    if (::stat(dir.c_str(), &st) == 0) {
        if (const struct passwd* pw = ::getpwuid(st.st_uid)) userName = pw->pw_name;
        if (const struct group* gr = ::getgrgid(st.st_gid)) groupName = gr->gr_name;
    }
    return UnitTextFor(description, execPath, args, environment, userName, groupName, dir);
}

bool Service::RunSystemctl(const std::vector<std::string>& args, bool mustSucceed) {
    const std::string program = SystemctlProgram();
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::string line;
    for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
    commands_.push_back(line);

    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        lastError_ = "Could not run " + program + ": " + std::strerror(rc);
        return false;
    }
    int status = 0;
    for (int waited = 0;; waited += 10) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) {
            lastError_ = line + ": " + std::strerror(errno);
            return false;
        }
        if (waited >= kCommandTimeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            lastError_ = line + ": no answer within " + std::to_string(kCommandTimeoutMs / 1000) +
                         " seconds";
            return false;
        }
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok && mustSucceed) {
        lastError_ =
            line + " failed" +
            (WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                               : std::string(" (killed by a signal)"));
        return false;
    }
    return true;
}

bool Service::InstallUnit(const std::string& serviceName, const std::string& description,
                          const std::filesystem::path& execPath,
                          const std::vector<std::string>& args, const Environment& environment) {
    lastError_.clear();
    commands_.clear();
    if (!ValidServiceName(serviceName)) {
        lastError_ = "Not a usable service name: \"" + serviceName + "\"";
        return false;
    }
    try {
        std::error_code ec;
        std::filesystem::create_directories(UnitDirectory(), ec);
        WriteFileAtomic(UnitFile(serviceName), UnitText(description, execPath, args, environment));
    } catch (const std::exception& e) {
        lastError_ = std::string("Could not write the unit file: ") + e.what();
        return false;
    }
    return RunSystemctl({"daemon-reload"}, true) &&
           RunSystemctl({"enable", serviceName + ".service"}, true);
}

bool Service::UninstallUnit(const std::string& serviceName) {
    lastError_.clear();
    commands_.clear();
    if (!ValidServiceName(serviceName)) {
        lastError_ = "Not a usable service name: \"" + serviceName + "\"";
        return false;
    }
    const std::string unit = serviceName + ".service";
    // Every step is tried; the first failure is the one reported.
    bool ok = RunSystemctl({"stop", unit}, false);
    std::string firstError = lastError_;
    ok = RunSystemctl({"disable", unit}, false) && ok;
    if (firstError.empty()) firstError = lastError_;
    std::error_code ec;
    std::filesystem::remove(UnitFile(serviceName), ec);
    if (ec) {
        ok = false;
        if (firstError.empty())
            firstError = "Could not remove " + UnitFile(serviceName).string() + ": " + ec.message();
    }
    ok = RunSystemctl({"daemon-reload"}, true) && ok;
    if (firstError.empty()) firstError = lastError_;
    lastError_ = ok ? std::string{} : firstError;
    return ok;
}

bool Service::StartUnit(const std::string& serviceName) {
    lastError_.clear();
    commands_.clear();
    if (!ValidServiceName(serviceName)) {
        lastError_ = "Not a usable service name: \"" + serviceName + "\"";
        return false;
    }
    return RunSystemctl({"start", serviceName + ".service"}, true);
}

bool Service::NotifyReady() {
    return SendNotify("READY=1");
}
bool Service::NotifyStopping() {
    return SendNotify("STOPPING=1");
}

bool Service::StartedByServiceManager() {
    return !Env("NOTIFY_SOCKET").empty() || !Env("INVOCATION_ID").empty();
}

}  // namespace platform
