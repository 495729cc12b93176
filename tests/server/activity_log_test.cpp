#include "server/activity_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/report.h"
#include "platform/files.h"
#include "tests/support/fake_clock.h"

namespace fs = std::filesystem;
using kest::test::FakeClock;
using modMain::ActivityLog;

namespace {

// Counts reads of the present time, to see that dropped lines are never formatted.
class CountingClock : public FakeClock {
  public:
    using FakeClock::FakeClock;
    double Now() const override {
        ++reads;
        return FakeClock::Now();
    }
    mutable int reads = 0;
};

class ActivityLogTest : public ::testing::Test {
  protected:
    ActivityLogTest() {
        std::string tmpl = (fs::temp_directory_path() / "kest-log-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
        previousSink_ =
            kest::SetErrorSink([this](const std::string& where, const std::string&,
                                      const kest::RunError&) { reports_.push_back(where); });
    }
    ~ActivityLogTest() override {
        kest::SetErrorSink(previousSink_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string FileText(const std::string& date) {
        return platform::ReadFile(dir_ / "logs" / (date + ".log")).value_or("<none>");
    }

    // Local time is two hours ahead of UTC, so the day changes at 22:00 UTC.
    CountingClock clock_{kest::CivilToDays({2026, 3, 14, 10, 0, 0}), 7200};
    modMain::Settings settings_;
    fs::path dir_;
    std::vector<std::string> reports_;
    kest::ErrorSink previousSink_;
};

}  // namespace

TEST_F(ActivityLogTest, KindsAreFilteredBySettings) {
    struct Case {
        bool detail, inOnly;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {true, false, {0, 1, 2, 3}},
        {false, false, {0, 2}},
        {true, true, {0, 1}},
        {false, true, {0}},
    };
    for (const Case& c : cases) {
        settings_.LogDetail = c.detail;
        settings_.LogInOnly = c.inOnly;
        ActivityLog log(settings_, clock_, dir_);
        log.OpenWindow();
        for (int kind = 0; kind <= 3; ++kind) log.AddLine(kind, "kind " + std::to_string(kind));
        std::vector<std::string> expected;
        for (int kind : c.shown) expected.push_back("12:00:00   kind " + std::to_string(kind));
        EXPECT_EQ(std::vector<std::string>(log.WindowLines().begin(), log.WindowLines().end()),
                  expected)
            << "LogDetail " << c.detail << " LogInOnly " << c.inOnly;
        EXPECT_EQ(log.BufferLines(), log.WindowLines());
    }
}

TEST_F(ActivityLogTest, LinesNobodySeesAreNotEvenFormatted) {
    settings_.LogDetail = false;
    ActivityLog log(settings_, clock_, dir_);
    EXPECT_FALSE(log.Wanted(0));
    log.AddLine(0, "nobody listens");
    EXPECT_EQ(clock_.reads, 0);
    log.OpenWindow();
    EXPECT_TRUE(log.Wanted(0));
    EXPECT_FALSE(log.Wanted(1));
    log.AddLine(1, "filtered out");
    EXPECT_EQ(clock_.reads, 0);
    EXPECT_TRUE(log.WindowLines().empty());
    log.AddLine(0, "shown");
    EXPECT_EQ(clock_.reads, 1);
}

TEST_F(ActivityLogTest, BufferStartsAtTheFirstOpeningAndRefillsTheWindow) {
    ActivityLog log(settings_, clock_, dir_);
    log.AddLine(0, "before any window");
    EXPECT_FALSE(log.BufferActive());
    EXPECT_TRUE(log.BufferLines().empty());

    log.OpenWindow();
    log.AddLine(0, "one");
    log.CloseWindow();
    EXPECT_TRUE(log.WindowLines().empty());
    log.AddLine(0, "two\twith\r\ncontrols\x7f");  // still buffered while the window is closed
    EXPECT_EQ(log.BufferLines().size(), 2u);

    std::vector<std::string> seen;
    log.SetWindowObserver([&](const std::string& line) { seen.push_back(line); });
    log.OpenWindow();
    EXPECT_EQ(std::vector<std::string>(log.WindowLines().begin(), log.WindowLines().end()),
              (std::vector<std::string>{"12:00:00   one", "12:00:00   two?with??controls?"}));
    clock_.Advance(61);
    log.AddLine(0, "three");
    EXPECT_EQ(seen, (std::vector<std::string>{"12:01:01   three"}));

    log.Clear();
    EXPECT_TRUE(log.WindowLines().empty());
    EXPECT_TRUE(log.BufferLines().empty());
}

TEST_F(ActivityLogTest, BufferAndWindowKeepTheLast150Lines) {
    ActivityLog log(settings_, clock_, dir_);
    log.OpenWindow();
    for (int i = 1; i <= 150; ++i) log.AddLine(0, "line " + std::to_string(i));
    ASSERT_EQ(log.WindowLines().size(), 150u);
    EXPECT_EQ(log.WindowLines().front(), "12:00:00   line 1");
    log.AddLine(0, "line 151");
    EXPECT_EQ(log.WindowLines().size(), 150u);
    EXPECT_EQ(log.WindowLines().front(), "12:00:00   line 2");
    EXPECT_EQ(log.WindowLines().back(), "12:00:00   line 151");
    EXPECT_EQ(log.BufferLines(), log.WindowLines());
}

TEST_F(ActivityLogTest, DailyFileRollsOverAtLocalMidnight) {
    settings_.WriteLog = true;
    ActivityLog log(settings_, clock_, dir_);
    clock_.SetLocal({2026, 3, 14, 23, 59, 58});
    log.AddLine(0, "late");
    clock_.Advance(1);
    log.AddLine(2, "later");
    EXPECT_TRUE(log.FileOpen());
    EXPECT_EQ(log.FileDate(), "20260314");
    clock_.Advance(1);
    log.AddLine(0, "early");
    EXPECT_EQ(log.FileDate(), "20260315");
    EXPECT_EQ(FileText("20260314"), "23:59:58   late\r\n23:59:59   later\r\n");
    EXPECT_EQ(FileText("20260315"), "00:00:00   early\r\n");

    // Shutdown closes it; the next run appends to the same day's file.
    log.CloseFile();
    EXPECT_FALSE(log.FileOpen());
    ActivityLog next(settings_, clock_, dir_);
    next.AddLine(0, "again");
    EXPECT_EQ(FileText("20260315"), "00:00:00   early\r\n00:00:00   again\r\n");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(ActivityLogTest, UnwritableLogFolderSkipsTheLineAndRetries) {
    settings_.WriteLog = true;
    // A file where the folder should be: neither the folder nor the file can be made, even by
    // root.
    std::ofstream(dir_ / "logs") << "in the way";
    ActivityLog log(settings_, clock_, dir_);
    log.OpenWindow();
    log.AddLine(0, "lost");
    EXPECT_FALSE(log.FileOpen());
    EXPECT_EQ(log.WindowLines().size(), 1u);
    fs::remove(dir_ / "logs");
    log.AddLine(0, "kept");
    EXPECT_TRUE(log.FileOpen());
    EXPECT_EQ(FileText("20260314"), "12:00:00   kept\r\n");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(ActivityLogTest, EchoPrintsEveryShownLine) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ActivityLog log(settings_, clock_, dir_);
    log.SetEchoStream(out);
    log.AddLine(0, "not echoed yet");
    log.SetEcho(true);
    EXPECT_TRUE(log.Wanted(0));
    log.AddLine(0, "Program started.");
    settings_.LogInOnly = true;
    log.AddLine(2, "Query to 10.0.0.1");
    std::rewind(out);
    char buf[256] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buf, n), "12:00:00   Program started.\n");
    EXPECT_FALSE(fs::exists(dir_ / "logs"));  // WriteLog is off
}
