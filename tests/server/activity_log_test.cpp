#include "server/activity_log.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/report.h"
#include "platform/files.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using modMain::ActivityLog;

namespace {

// Counts reads of the present time, to see that dropped lines are never formatted.
struct CountingClock : kest::test::FakeClock {
    using FakeClock::FakeClock;
    double Now() const override {
        ++reads;
        return FakeClock::Now();
    }
    mutable int reads = 0;
};

std::vector<std::string> V(const std::deque<std::string>& d) {
    return {d.begin(), d.end()};
}

class ActivityLogTest : public ::testing::Test {
  protected:
    ActivityLogTest() {
        previousSink_ =
            kest::SetErrorSink([this](const std::string& where, const std::string&,
                                      const kest::RunError&) { reports_.push_back(where); });
    }
    ~ActivityLogTest() override { kest::SetErrorSink(previousSink_); }
    std::string FileText(const std::string& date) {
        return platform::ReadFile(dir_ / "logs" / (date + ".log")).value_or("<none>");
    }

    // Local time is two hours ahead of UTC, so the day changes at 22:00 UTC.
    CountingClock clock_{kest::CivilToDays({2026, 3, 14, 10, 0, 0}), 7200};
    modMain::Settings settings_;
    kest::test::TempDir tmp_;
    const fs::path dir_ = tmp_.path();
    std::vector<std::string> reports_;
    kest::ErrorSink previousSink_;
};

}  // namespace

TEST_F(ActivityLogTest, KindsAreFilteredBySettingsBeforeAnythingIsFormatted) {
    struct Case {
        bool detail, inOnly;
        std::vector<int> shown;
    } const cases[] = {{true, false, {0, 1, 2, 3}},
                       {false, false, {0, 2}},
                       {true, true, {0, 1}},
                       {false, true, {0}}};
    for (const Case& c : cases) {
        settings_.LogDetail = c.detail;
        settings_.LogInOnly = c.inOnly;
        ActivityLog log(settings_, clock_, dir_);
        log.OpenWindow();
        clock_.reads = 0;
        for (int kind = 0; kind <= 3; ++kind) log.AddLine(kind, "kind " + std::to_string(kind));
        std::vector<std::string> expected;
        for (int kind : c.shown) expected.push_back("12:00:00   kind " + std::to_string(kind));
        EXPECT_EQ(V(log.WindowLines()), expected) << c.detail << c.inOnly;
        EXPECT_EQ(clock_.reads, static_cast<int>(c.shown.size()));
    }
    // Nowhere to go: not even the clock is read.
    ActivityLog quiet(settings_, clock_, dir_);
    clock_.reads = 0;
    EXPECT_FALSE(quiet.Wanted(0));
    quiet.AddLine(0, "nobody listens");
    EXPECT_EQ(clock_.reads, 0);
}

TEST_F(ActivityLogTest, BufferFromTheFirstOpeningAndBothKeep150Lines) {
    ActivityLog log(settings_, clock_, dir_);
    log.AddLine(0, "before any window");
    EXPECT_TRUE(log.BufferLines().empty());
    log.OpenWindow();
    log.AddLine(0, "one");
    log.CloseWindow();
    EXPECT_TRUE(log.WindowLines().empty());
    log.AddLine(0, "two\twith\r\ncontrols\x7f");  // still buffered while the window is closed
    std::vector<std::string> seen;
    log.SetWindowObserver([&](const std::string& line) { seen.push_back(line); });
    log.OpenWindow();
    EXPECT_EQ(V(log.WindowLines()),
              (std::vector<std::string>{"12:00:00   one", "12:00:00   two?with??controls?"}));

    clock_.Advance(61);
    for (int i = 3; i <= 151; ++i) log.AddLine(0, "line " + std::to_string(i));
    EXPECT_EQ(seen.size(), 149u);
    EXPECT_EQ(seen.front(), "12:01:01   line 3");
    ASSERT_EQ(log.WindowLines().size(), 150u);
    EXPECT_EQ(log.WindowLines().front(), "12:00:00   two?with??controls?");  // the first is gone
    EXPECT_EQ(log.WindowLines().back(), "12:01:01   line 151");
    EXPECT_EQ(log.BufferLines(), log.WindowLines());

    log.Clear();
    EXPECT_TRUE(log.WindowLines().empty());
    EXPECT_TRUE(log.BufferLines().empty());
}

TEST_F(ActivityLogTest, DailyFileRollsOverAtLocalMidnight) {
    settings_.WriteLog = true;
    ActivityLog log(settings_, clock_, dir_);
    clock_.SetLocal({2026, 3, 14, 23, 59, 58});
    log.AddLine(0, "late");
    clock_.Advance(1);
    log.AddLine(2, "later");
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
    // A file where the folder should be stops even root.
    std::ofstream(dir_ / "logs") << "in the way";
    ActivityLog log(settings_, clock_, dir_);
    log.OpenWindow();
    log.AddLine(0, "lost");
    EXPECT_FALSE(log.FileOpen());
    EXPECT_EQ(log.WindowLines().size(), 1u);
    fs::remove(dir_ / "logs");
    log.AddLine(0, "kept");
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

TEST_F(ActivityLogTest, EchoUnderAnEventLoopIsWrittenWhenTheLoopWaitsAndAtTheEnd) {
    int argc = 1;
    char name[] = "activity-log-test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const fs::path path = dir_ / "echo.txt";
    std::FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    auto written = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    {
        ActivityLog log(settings_, clock_, dir_);
        log.SetEchoStream(out);
        log.SetEcho(true);
        log.AddLine(0, "one\x01");
        log.AddLine(0, "a longer line with a DEL \x7F and \xC3\xA9 in it");
        EXPECT_EQ(written(), "");  // held until the loop has nothing to do
        // The loop waits between the ticks of a timer: the lines come out then, not after a
        // fixed stretch of time (ten thousand ticks only end a test where they never come).
        QEventLoop loop;
        QTimer tick;
        int ticks = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (!written().empty() || ++ticks >= 10000) loop.quit();
        });
        tick.start(2);
        loop.exec();
        EXPECT_EQ(written(),
                  "12:00:00   one?\n12:00:00   a longer line with a DEL ? and \xC3\xA9 in it\n");
        clock_.Advance(1);
        log.AddLine(0, "at the end");
    }
    EXPECT_EQ(written(),
              "12:00:00   one?\n12:00:00   a longer line with a DEL ? and \xC3\xA9 in it\n"
              "12:00:01   at the end\n");
    std::fclose(out);
}
