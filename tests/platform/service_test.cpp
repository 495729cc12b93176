#include "platform/service.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;
using kest::test::TempDir;
using platform::Service;

namespace {

// A stand-in systemctl that appends its arguments to a log and fails for the verbs in failVerbs.
std::filesystem::path RecordingSystemctl(const TempDir& dir, const std::string& failVerbs = "") {
    const auto script = dir.path() / "systemctl";
    std::ofstream out(script);
    out << "#!/bin/sh\n"
        << "echo \"$*\" >> '" << (dir.path() / "calls.log").string() << "'\n"
        << "case \" " << failVerbs << " \" in *\" $1 \"*) exit 1;; esac\n"
        << "exit 0\n";
    out.close();
    ::chmod(script.c_str(), 0755);
    return script;
}

std::vector<std::string> Calls(const TempDir& dir) {
    const auto text = platform::ReadFile(dir.path() / "calls.log");
    return text ? platform::SplitLines(*text) : std::vector<std::string>{};
}

}  // namespace

TEST(Service, InstallWritesTheUnitAndEnablesIt) {
    TempDir dir;
    const auto units = dir.path() / "units";
    ScopedEnv unitDir("KESTRUNE_UNIT_DIR", units.c_str());
    ScopedEnv ctl("KESTRUNE_SYSTEMCTL", RecordingSystemctl(dir).c_str());

    Service service;
    ASSERT_TRUE(service.InstallUnit("kestrund", "Kestrune DNS 100%", "/opt/kest rune/kestserv",
                                    {"-s", "a\"b"}, {{"KESTRUNE_HOME", "/srv/kest"}}))
        << service.LastError();
    EXPECT_EQ(service.LastError(), "");
    const auto text = platform::ReadFile(units / "kestrund.service");
    ASSERT_TRUE(text.has_value());
    const auto lines = platform::SplitLines(*text);
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("Description=Kestrune DNS 100%%"));
    EXPECT_TRUE(has("ExecStart=\"/opt/kest rune/kestserv\" -s \"a\\\"b\""));
    EXPECT_TRUE(has("Environment=\"KESTRUNE_HOME=/srv/kest\""));
    EXPECT_TRUE(has("Type=notify"));
    EXPECT_TRUE(has("WantedBy=multi-user.target"));
    EXPECT_EQ(Calls(dir), (std::vector<std::string>{"daemon-reload", "enable kestrund.service"}));
}

TEST(Service, TheSystemInstallWritesThePackagesUnit) {
    // The package's unit and the one the options dialog installs must never differ.
    const auto packaged = platform::ReadFile(KEST_PACKAGED_UNIT);
    ASSERT_TRUE(packaged.has_value()) << KEST_PACKAGED_UNIT;
    EXPECT_EQ(Service::UnitTextFor("Kestrune", "/usr/bin/kestserv", {}, {}, "kestrune", "kestrune",
                                   "/var/lib/kestrune"),
              *packaged);
    // Every placeholder of the template is filled.
    EXPECT_EQ(packaged->find('@'), std::string::npos);
}

TEST(Service, TheUnitRunsAsTheProgramDirectorysOwnerWithOnlyThatFolderWritable) {
    TempDir dir;
    const auto home = dir.path() / "home dir";
    std::filesystem::create_directories(home);
    if (::geteuid() == 0) {
        // The owner decides the user; nobody's uid and group stand for a system user here.
        ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    }
    const struct stat st = [&] {
        struct stat s{};
        ::stat(home.c_str(), &s);
        return s;
    }();
    const std::string user = ::getpwuid(st.st_uid)->pw_name;
    const std::string group = ::getgrgid(st.st_gid)->gr_name;
    const auto lines = platform::SplitLines(
        Service::UnitText("K", "/opt/k/kestserv", {}, {{"KESTRUNE_HOME", home.string()}}));
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("User=" + user)) << user;
    EXPECT_TRUE(has("Group=" + group)) << group;
    EXPECT_TRUE(has("ReadWritePaths=\"" + home.string() + "\""));
    EXPECT_TRUE(has("ProtectSystem=strict"));
    EXPECT_TRUE(has("AmbientCapabilities=CAP_NET_BIND_SERVICE"));
    // Without $KESTRUNE_HOME the executable's folder is the program directory.
    const auto plain = platform::SplitLines(Service::UnitText("K", "/opt/k/kestserv", {}, {}));
    EXPECT_NE(std::find(plain.begin(), plain.end(), "ReadWritePaths=/opt/k"), plain.end());
}

TEST(Service, UninstallStopsDisablesRemovesAndReloads) {
    TempDir dir;
    ScopedEnv unitDir("KESTRUNE_UNIT_DIR", dir.path().c_str());
    // A unit that is not running: stop and disable fail, which is no reason to give up.
    ScopedEnv ctl("KESTRUNE_SYSTEMCTL", RecordingSystemctl(dir, "stop disable").c_str());
    platform::WriteFileAtomic(dir.path() / "kestrund.service", "[Unit]\n");

    Service service;
    EXPECT_TRUE(service.UninstallUnit("kestrund")) << service.LastError();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "kestrund.service"));
    EXPECT_EQ(Calls(dir), (std::vector<std::string>{"stop kestrund.service",
                                                    "disable kestrund.service", "daemon-reload"}));
    // Removing what is not there is no failure either.
    EXPECT_TRUE(service.UninstallUnit("kestrund"));
}

TEST(Service, MissingOrFailingSystemctlIsReportedAsFailure) {
    TempDir dir;
    ScopedEnv unitDir("KESTRUNE_UNIT_DIR", dir.path().c_str());
    {
        ScopedEnv ctl("KESTRUNE_SYSTEMCTL", (dir.path() / "no-such-systemctl").c_str());
        Service service;
        EXPECT_FALSE(service.InstallUnit("kestrund", "d", "/bin/kestserv", {}));
        EXPECT_NE(service.LastError().find("Could not run"), std::string::npos);
        platform::WriteFileAtomic(dir.path() / "kestrund.service", "[Unit]\n");
        EXPECT_FALSE(service.UninstallUnit("kestrund"));
        EXPECT_NE(service.LastError().find("No such file"), std::string::npos);
        // The file goes even so.
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "kestrund.service"));
    }
    {
        ScopedEnv ctl("KESTRUNE_SYSTEMCTL", RecordingSystemctl(dir, "enable").c_str());
        Service service;
        EXPECT_FALSE(service.InstallUnit("kestrund", "d", "/bin/kestserv", {}));
        EXPECT_NE(service.LastError().find("enable kestrund.service failed (exit status 1)"),
                  std::string::npos)
            << service.LastError();
    }
}

TEST(Service, RefusesNamesThatAreNotPlainUnitNames) {
    TempDir dir;
    const auto units = dir.path() / "units";
    ScopedEnv unitDir("KESTRUNE_UNIT_DIR", units.c_str());
    ScopedEnv ctl("KESTRUNE_SYSTEMCTL", RecordingSystemctl(dir).c_str());
    Service service;
    for (const std::string bad : {"", "../escape", "a/b", ".hidden", "two words", "x\ny"}) {
        EXPECT_FALSE(service.InstallUnit(bad, "d", "/bin/kestserv", {})) << bad;
        EXPECT_FALSE(service.UninstallUnit(bad)) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "escape.service"));
    EXPECT_TRUE(Calls(dir).empty());
    EXPECT_TRUE(Service::ValidServiceName("kest-rund_2@x.y"));
}

TEST(Service, NotifyReadyWritesToTheNotifySocket) {
    TempDir dir;
    const auto path = dir.path() / "notify";
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    {
        ScopedEnv notify("NOTIFY_SOCKET", path.c_str());
        EXPECT_TRUE(Service::StartedByServiceManager());
        EXPECT_TRUE(Service::NotifyReady());
        char buf[64] = {};
        EXPECT_EQ(::recv(fd, buf, sizeof buf - 1, MSG_DONTWAIT), 7);
        EXPECT_STREQ(buf, "READY=1");
    }
    {
        ScopedEnv notify("NOTIFY_SOCKET", nullptr);
        ScopedEnv invocation("INVOCATION_ID", nullptr);
        EXPECT_FALSE(Service::NotifyReady());
        EXPECT_FALSE(Service::StartedByServiceManager());
    }
    ::close(fd);
}
