// The options dialog's controller on a real server object (loopback sockets, fake clock), with
// the real settings file, block list, autostart entry and a stand-in systemctl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "server/intake.h"
#include "server/options/frmOptions.h"
#include "server/options/options_host.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using kest::test::ScopedEnv;
using modMain::frmAlpha;
using modOptions::frmOptions;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "options_alpha_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

using kest::test::FreePort;

bool HasLine(const std::filesystem::path& file, const std::string& line) {
    const auto text = platform::ReadFile(file);
    if (!text) return false;
    const auto lines = platform::SplitLines(*text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class OptionsOnServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        // A stand-in systemctl that logs its arguments.
        const auto script = dir_.path() / "systemctl";
        std::ofstream(script) << "#!/bin/sh\necho \"$*\" >> '"
                              << (dir_.path() / "calls.log").string() << "'\n";
        ::chmod(script.c_str(), 0755);
        unitDir_ =
            std::make_unique<ScopedEnv>("KESTRUNE_UNIT_DIR", (dir_.path() / "units").c_str());
        systemctl_ = std::make_unique<ScopedEnv>("KESTRUNE_SYSTEMCTL", script.c_str());
        autostart_ =
            std::make_unique<ScopedEnv>("KESTRUNE_AUTOSTART_DIR", (dir_.path() / "xdg").c_str());
        std::filesystem::create_directories(home_ / "data");

        alpha_ = kest::test::StartOnFreePort([this](uint16_t port) {
            modMain::HostServices h;
            h.clock = &clock_;
            h.prompt = &prompt_;
            h.programDir = home_;
            auto a = std::make_unique<frmAlpha>(h);
            a->LoadSettings({"127.0.0.1"});
            a->settings.Name = "ns1";
            a->settings.DNSBind = "127.0.0.1";
            a->settings.DNSPort = port;
            a->OnUnload = [this] { unloaded_ = true; };
            a->Log().OpenWindow();
            return a;
        });
        target_ = std::make_unique<modOptions::AlphaTarget>(*alpha_);
        target_->onCaption = [this](const std::string& c) { caption_ = c; };
        service_ = std::make_unique<modOptions::SystemdService>(home_);
        startup_ = std::make_unique<modOptions::XdgStartupEntry>(home_);
        form_ = std::make_unique<frmOptions>(*target_, *service_, *startup_, &prompt_, &launcher_);
        form_->Load();
    }
    void TearDown() override { alpha_.reset(); }

    kest::test::TempDir dir_;
    const std::filesystem::path home_ = dir_.path() / "home";
    std::unique_ptr<ScopedEnv> unitDir_, systemctl_, autostart_;
    kest::test::FakeClock clock_;
    kest::test::RecordingPrompt prompt_;
    kest::test::RecordingLauncher launcher_;
    std::unique_ptr<frmAlpha> alpha_;
    std::unique_ptr<modOptions::AlphaTarget> target_;
    std::unique_ptr<modOptions::SystemdService> service_;
    std::unique_ptr<modOptions::XdgStartupEntry> startup_;
    std::unique_ptr<frmOptions> form_;
    std::string caption_;
    bool unloaded_ = false;
};

TEST_F(OptionsOnServerTest, ANewPortIsBoundAtOnceAndEverythingIsWritten) {
    ASSERT_TRUE(alpha_->Running);
    // A port probed free may be taken again before the server binds it: another one then.
    uint16_t newPort = 0;
    for (int attempt = 0; attempt < 5 && alpha_->DNSPortInUse() != newPort; ++attempt) {
        newPort = FreePort();
        form_->Load();
        form_->txtPort = std::to_string(newPort);
        form_->Blocked.Entry = "10.6.6.6";
        form_->Blocked.Add();
        form_->chkStartWin = true;
        form_->StartWinClick();
        ASSERT_EQ(form_->OK(), frmOptions::Outcome::Closed);
    }

    EXPECT_TRUE(alpha_->Running);
    EXPECT_EQ(alpha_->DNSPortInUse(), newPort);
    EXPECT_TRUE(HasLine(alpha_->IniFile(), "DNSPort: " + std::to_string(newPort)));
    EXPECT_TRUE(HasLine(alpha_->IniFile(), "StartWin: YES"));
    EXPECT_TRUE(alpha_->Intake().IsBlocked("10.6.6.6"));
    EXPECT_TRUE(HasLine(alpha_->Intake().BlocksFile(), "10.6.6.6"));
    EXPECT_EQ(caption_, "ns1 - Kestrune");
    const auto entry = platform::ReadFile(dir_.path() / "xdg" / "kestrune.desktop");
    ASSERT_TRUE(entry.has_value());
    EXPECT_NE(entry->find("KESTRUNE_HOME=" + home_.string()), std::string::npos);
    EXPECT_NE(entry->find(" -n\n"), std::string::npos);

    // Log-on start off again: the entry goes.
    form_->Load();
    form_->chkStartWin = false;
    ASSERT_EQ(form_->OK(), frmOptions::Outcome::Closed);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "xdg" / "kestrune.desktop"));
}

TEST_F(OptionsOnServerTest, AnAddressTheMachineLacksLeavesTheServerWhereItWas) {
    const uint16_t oldPort = alpha_->DNSPortInUse();
    form_->chkBind = true;
    form_->comBind = "192.0.2.77";  // not an address of this machine: the bind fails
    form_->BindChanged();
    ASSERT_EQ(form_->OK(), frmOptions::Outcome::Closed);
    EXPECT_TRUE(alpha_->Running);
    EXPECT_EQ(alpha_->DNSPortInUse(), oldPort);
    EXPECT_EQ(alpha_->settings.DNSBind, "127.0.0.1");
    EXPECT_TRUE(HasLine(alpha_->IniFile(), "DNSBind: 192.0.2.77"));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_NE(prompt_.boxes[0].text.find("127.0.0.1, port " + std::to_string(oldPort)),
              std::string::npos);
    bool logged = false;
    for (const auto& l : alpha_->Log().WindowLines())
        logged |= l.find("Binding DNS service to 192.0.2.77 failed") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(OptionsOnServerTest, InstallingTheServiceWritesTheUnitShutsDownAndStartsIt) {
    form_->chkService = true;
    form_->ServiceClick();
    ASSERT_EQ(form_->OK(), frmOptions::Outcome::ProgramEnds);
    EXPECT_TRUE(unloaded_);
    EXPECT_FALSE(alpha_->Running);
    EXPECT_FALSE(alpha_->TimerActive());
    EXPECT_TRUE(HasLine(alpha_->IniFile(), "NTService: YES"));
    EXPECT_TRUE(HasLine(dir_.path() / "units" / "kestrund.service",
                        "Environment=\"KESTRUNE_HOME=" + home_.string() + "\""));
    const auto calls = platform::ReadFile(dir_.path() / "calls.log");
    ASSERT_TRUE(calls.has_value());
    EXPECT_EQ(platform::SplitLines(*calls),
              (std::vector<std::string>{"daemon-reload", "enable kestrund.service",
                                        "start kestrund.service"}));
}

}  // namespace

namespace {

// Desktop entry Exec quoting: reserved characters quoted, a quoting backslash doubled for the
// file's own unescaping, "%" doubled.
TEST(StartupEntryCommand, QuotesWhatTheExecLineReserves) {
    EXPECT_EQ(modOptions::XdgStartupEntry::Command("/usr/bin/kestserv", "/srv/kest"),
              "env KESTRUNE_HOME=/srv/kest /usr/bin/kestserv -n");
    EXPECT_EQ(modOptions::XdgStartupEntry::Command("/opt/kest rune/kestserv", "/srv/a$b"),
              R"(env "KESTRUNE_HOME=/srv/a\\$b" "/opt/kest rune/kestserv" -n)");
    EXPECT_EQ(modOptions::XdgStartupEntry::Command("/opt/k\\s/kestserv", "/srv/100%"),
              R"(env KESTRUNE_HOME=/srv/100%% "/opt/k\\\\s/kestserv" -n)");
}

}  // namespace
