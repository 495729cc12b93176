#include "server/error_report.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/files.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using kest::RunError;
using kest::test::RecordingPrompt;
using modMain::ErrorReporter;

namespace {

struct RecordingEventLog : platform::IEventLog {
    void Error(int id, const std::string& text) override {
        errors.push_back(std::to_string(id) + " " + text);
    }
    void Info(const std::string&) override {}
    std::vector<std::string> errors;
};

void Write(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

void SetMtime(const fs::path& p, double utcDays) {
    const utimbuf t{kest::DaysToUnix(utcDays), kest::DaysToUnix(utcDays)};
    ASSERT_EQ(::utime(p.c_str(), &t), 0);
}

// The program folder, with its data folder.
fs::path WithDataFolder(const fs::path& dir) {
    fs::create_directory(dir / "data");
    return dir;
}

class ErrorReportTest : public ::testing::Test {
  protected:
    modMain::ReportFacts Facts() {
        modMain::ReportFacts f;
        f.localIPs = [] { return std::vector<std::string>{"10.0.0.1", "192.168.1.2"}; };
        f.running = [this] { return running_; };
        f.interactive = [this] { return interactive_; };
        f.totalRequests = [] { return 12.0; };
        f.cacheCount = [] { return int64_t{7}; };
        f.startTime = [this] { return clock_.Now() - 0.5; };
        f.saveBlocks = [this] {
            ++blockSaves_;
            Write(dir_ / "blocks.dat", "10.9.9.9 2026-03-14 12:00:00\r\n");
        };
        f.programDir = dir_;
        return f;
    }

    ErrorReporter& Reporter() {
        if (!reporter_)
            reporter_ = std::make_unique<ErrorReporter>(settings_, clock_, log_, Facts(), &prompt_,
                                                        &events_, &launcher_);
        return *reporter_;
    }

    std::vector<std::string> SupportLines() {
        return platform::SplitLines(platform::ReadFile(dir_ / "support.txt").value_or(""));
    }

    // Local time two hours ahead of UTC.
    kest::test::FakeClock clock_{kest::CivilToDays({2026, 3, 14, 10, 0, 0}), 7200};
    modMain::Settings settings_;
    kest::test::TempDir tmp_;
    fs::path dir_ = WithDataFolder(tmp_.path());
    modMain::ActivityLog log_{settings_, clock_, dir_};
    RecordingPrompt prompt_;
    RecordingEventLog events_;
    kest::test::RecordingLauncher launcher_;
    std::unique_ptr<ErrorReporter> reporter_;
    bool running_ = true;
    bool interactive_ = false;
    int blockSaves_ = 0;
};

const RunError kBoom{5, "boom"};

}  // namespace

TEST_F(ErrorReportTest, SupportFileLayoutWithError) {
    Write(dir_ / "kestrund.ini", "HostsTTL: 3600 \r\nBombLevel: 0\r\n");
    Write(dir_ / "data" / "alpha.dns", "0123456789");
    Write(dir_ / "data" / "Zeta.dns", std::string(123456, 'x'));
    fs::create_directory(dir_ / "data" / "sub");
    SetMtime(dir_ / "data" / "alpha.dns", kest::CivilToDays({2026, 3, 1, 8, 30, 0}));
    SetMtime(dir_ / "data" / "Zeta.dns", kest::CivilToDays({2025, 12, 31, 23, 0, 5}));
    Write(dir_ / "named.root", ".  3600000  NS  A.ROOT-SERVERS.NET.\n");
    Write(dir_ / "myhosts", "127.0.0.1 localhost\r\n");
    settings_.Hosts = (dir_ / "myhosts").string();
    log_.OpenWindow();
    log_.AddLine(0, "Program started.");
    log_.AddLine(0, "DNS service started.");

    ASSERT_TRUE(Reporter().WriteSupportFile("modDNS ZipName", "WS-State 7", kBoom));
    EXPECT_EQ(blockSaves_, 1);

    utsname u{};
    ASSERT_EQ(::uname(&u), 0);
    const std::string exe = fs::canonical("/proc/self/exe").string();
    const std::string ini = (dir_ / "kestrund.ini").string();
    const std::string data = (dir_ / "data").string();
    auto file = [](const fs::path& p) { return "File: " + p.string(); };
    auto under = [](const std::string& s) { return std::string(s.size(), '-'); };
    const std::vector<std::string> expected = {
        "Kestrune - Support Info",
        "------------------------------",
        "",
        "Please send your comments and questions to support@kestrune.example.",
        "",
        "Error Description",
        "-----------------",
        "Number     : 5",
        "Description: boom",
        "Module     : modDNS ZipName",
        "Additional : WS-State 7",
        "",
        "System Information",
        "------------------",
        "Interfaces : 10.0.0.1 / 192.168.1.2 ",
        "OS Platform: Linux",
        std::string("OS Version : ") + u.release,
        std::string("OS Build   : ") + u.version,
        "Date/Time  : 2026-03-14 12:00:00",
        "",
        "Application Information",
        "-----------------------",
        "Status    : Running",
        "Path      : " + exe,
        "Version   : 1.00.0000",
        "",
        "Statistics",
        "----------",
        "Requests: 12",
        "Cache   : 7",
        "Uptime  : 0.500000",
        "",
        "Recent Log Entries",
        "------------------",
        "12:00:00   Program started.",
        "12:00:00   DNS service started.",
        "",
        "File: " + ini,
        under("File: " + ini),
        "HostsTTL: 3600 ",
        "BombLevel: 0",
        "",
        "Directory: " + data,
        under("Directory: " + data),
        "2026-01-01 01:00:05         123456  Zeta.dns",
        "2026-03-01 10:30:00             10  alpha.dns",
        "",
        file(dir_ / "blocks.dat"),
        under(file(dir_ / "blocks.dat")),
        "10.9.9.9 2026-03-14 12:00:00",
        "",
        file(dir_ / "dhcp.dat"),
        under(file(dir_ / "dhcp.dat")),
        "** Error opening file!",
        "",
        file(dir_ / "named.root"),
        under(file(dir_ / "named.root")),
        ".  3600000  NS  A.ROOT-SERVERS.NET.",
        "",
        file(dir_ / "myhosts"),
        under(file(dir_ / "myhosts")),
        "127.0.0.1 localhost",
        "",
    };
    const std::vector<std::string> got = SupportLines();
    for (size_t i = 0; i < std::max(expected.size(), got.size()); ++i)
        EXPECT_EQ(i < got.size() ? got[i] : "<missing>",
                  i < expected.size() ? expected[i] : "<extra>")
            << "line " << i + 1;
    EXPECT_EQ(platform::ReadFile(dir_ / "support.txt").value().find("\n"),
              std::string("Kestrune - Support Info\r").size());
}

TEST_F(ErrorReportTest, SectionsThatDependOnStateAreLeftOutOrMarked) {
    running_ = false;
    interactive_ = true;
    settings_.NTService = true;
    fs::remove(dir_ / "data");
    // No error: no error section, no box, no event; log window closed: no recent entries.
    Reporter().Report("frmAlpha Timer", "", RunError{});
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_TRUE(events_.errors.empty());
    std::vector<std::string> got = SupportLines();
    auto has = [&](const std::string& line) {
        return std::find(got.begin(), got.end(), line) != got.end();
    };
    EXPECT_EQ(got.at(5), "System Information");
    EXPECT_FALSE(has("Error Description"));
    EXPECT_FALSE(has("Recent Log Entries"));
    EXPECT_TRUE(has("Status    : Paused"));
    EXPECT_TRUE(has("*** Error reading directory"));
    EXPECT_EQ(std::count(got.begin(), got.end(), "** Error opening file!"), 3);  // ini, dhcp, root

    // An open but empty window, then one with more than 50 lines.
    log_.OpenWindow();
    Reporter().WriteSupportFile("", "", RunError{});
    got = SupportLines();
    auto at = std::find(got.begin(), got.end(), "Recent Log Entries");
    ASSERT_NE(at, got.end());
    EXPECT_EQ(*(at + 2), "** No log entries!");
    for (int i = 1; i <= 60; ++i) log_.AddLine(0, "entry " + std::to_string(i));
    Reporter().WriteSupportFile("", "", RunError{});
    got = SupportLines();
    at = std::find(got.begin(), got.end(), "Recent Log Entries");
    ASSERT_NE(at, got.end());
    EXPECT_EQ(*(at + 2), "12:00:00   entry 11");
    EXPECT_EQ(*(at + 51), "12:00:00   entry 60");
    EXPECT_EQ(*(at + 52), "");
}

TEST_F(ErrorReportTest, ServiceRunWritesTheEventLogLine) {
    Reporter().Report("modDNS ZipName", "WS-State 7", kBoom);
    EXPECT_TRUE(events_.errors.empty());  // not a service
    settings_.NTService = true;
    Reporter().Report("modDNS ZipName", "WS-State 7", kBoom);
    Reporter().Report("frmAlpha Timer", "", RunError{2, "No such file or directory"});
    EXPECT_EQ(events_.errors, (std::vector<std::string>{
                                  "109 Error: 5 boom in modDNS ZipName WS-State 7",
                                  "109 Error: 2 No such file or directory in frmAlpha Timer "}));
    EXPECT_TRUE(prompt_.boxes.empty());  // nobody is there to see one
}

TEST_F(ErrorReportTest, UserIsAskedAndYesOpensTheSupportFile) {
    interactive_ = true;
    Reporter().Report("modDNS ZipName", "", kBoom);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_TRUE(prompt_.boxes[0].question);
    EXPECT_EQ(prompt_.boxes[0].icon, platform::IPrompt::Icon::Error);
    EXPECT_EQ(prompt_.boxes[0].text,
              "An error has occured in Kestrune!\n\nError: 5 boom\nModule: modDNS ZipName\n\n"
              "A support file containing information about your\n"
              "system and configuration was created as\n'" +
                  (dir_ / "support.txt").string() +
                  "'\nPlease send this file to support@kestrune.example and\n"
                  "state any other information you think may be useful.\n\n"
                  "Review the support file with notepad now ?");
    EXPECT_TRUE(launcher_.edited.empty());

    prompt_.defaultAnswer = true;
    Reporter().Report("", "", kBoom);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[1].text.find("Module:"), std::string::npos);
    EXPECT_EQ(launcher_.edited, (std::vector<fs::path>{dir_ / "support.txt"}));
}

TEST_F(ErrorReportTest, PlainBoxWhenTheSupportFileCannotBeWritten) {
    // A non-empty folder in its place cannot be replaced, even by root.
    fs::create_directories(dir_ / "support.txt" / "x");
    Reporter().Report("modMain SaveINI", "", kBoom);
    EXPECT_TRUE(prompt_.boxes.empty());
    interactive_ = true;
    Reporter().Report("modMain SaveINI", "", kBoom);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_FALSE(prompt_.boxes[0].question);
    EXPECT_EQ(prompt_.boxes[0].text,
              "An error has occured in Kestrune!\n\nError: 5 boom\nModule: modMain SaveINI\n\n"
              "Please send an e-mail to support@kestrune.example\n"
              "with the above error information along with any\n"
              "other information you think may be useful.");
}

TEST_F(ErrorReportTest, ReportsInsideAReportAreOnlyLogged) {
    interactive_ = true;
    log_.OpenWindow();
    const auto previous = modMain::InstallErrorSink(Reporter());
    // An error raised while the box is open (another handler runs in its event loop).
    prompt_.during = [] {
        try {
            throw std::runtime_error("inner");
        } catch (...) {
            kest::ReportError("frmAlpha Timer");
        }
    };
    try {
        throw std::system_error(ENOENT, std::generic_category());
    } catch (...) {
        kest::ReportError("modMain LoadINI", "outer");
    }
    kest::SetErrorSink(previous);
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    const std::vector<std::string> lines(log_.WindowLines().begin(), log_.WindowLines().end());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "12:00:00   Error: 2 No such file or directory in modMain LoadINI outer",
                         "12:00:00   Error: 5 inner in frmAlpha Timer "}));
    const std::vector<std::string> support = SupportLines();
    EXPECT_EQ(support.at(7), "Number     : 2");
    EXPECT_EQ(support.at(9), "Module     : modMain LoadINI");
    EXPECT_FALSE(Reporter().Reporting());
}

TEST_F(ErrorReportTest, AFailingLogDoesNotLoopThroughTheReport) {
    const auto previous = modMain::InstallErrorSink(Reporter());
    int calls = 0;
    log_.OpenWindow();
    log_.SetWindowObserver([&](const std::string&) {
        ++calls;
        throw std::runtime_error("view gone");
    });
    Reporter().Report("modDNS ZipName", "", kBoom);
    kest::SetErrorSink(previous);
    EXPECT_EQ(calls, 2);  // the report's own line, then the line of the failing AddLine
    EXPECT_TRUE(fs::exists(dir_ / "support.txt"));
    EXPECT_FALSE(Reporter().Reporting());
}
