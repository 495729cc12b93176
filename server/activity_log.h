#pragma once
// The activity log: one operation, AddLine, whose lines go to the log window's list, to the
// memory buffer that refills that window, to the daily file logs/yyyymmdd.log and, in headless
// runs, to standard output. Line form: "hh:mm:ss", three blanks, the text (local time).
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "server/settings.h"

namespace modMain {

// Kinds of a line: which settings let it through.
enum LogKind : int {
    kLogEvent = 0,    // server events, requests received, errors: always shown
    kLogDetail = 1,   // records of a reply sent to a client: LogDetail
    kLogOutside = 2,  // queries to other servers and their replies: not LogInOnly
    kLogRecord = 3,   // individual records of a reply: LogDetail and not LogInOnly
};

class ActivityLog {
  public:
    static constexpr size_t kMaxLines = 150;

    // settings is read at every line, so changes of the options dialog take effect at once.
    ActivityLog(const Settings& settings, const kest::IClock& clock,
                std::filesystem::path programDir);
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Logs one line. Never fails to its caller.
    void AddLine(int kind, std::string_view text);

    // True when a line of this kind would end up anywhere; callers check it before building
    // an expensive text.
    bool Wanted(int kind) const;

    // Whether the settings let a line of this kind through (the kind filter alone).
    bool KindShown(int kind) const;

    // Log window state, for the window that shows it. Opening fills the window's list from the
    // memory buffer; the buffer is filled from the first opening on.
    void OpenWindow();
    void CloseWindow();
    bool WindowOpen() const { return windowOpen_; }
    const std::deque<std::string>& WindowLines() const { return window_; }
    // Called with each line added to the window's list (the list has already dropped its oldest
    // line when it was full).
    void SetWindowObserver(std::function<void(const std::string& line)> observer);

    bool BufferActive() const { return bufferActive_; }
    const std::deque<std::string>& BufferLines() const { return buffer_; }

    // "Clear Active Log": empties the buffer and the window's list.
    void Clear();

    // Headless runs also print every line to standard output. With an event loop running, the
    // lines are gathered and written when the loop is about to wait (and at 64 KiB, and when the
    // log ends), so a burst of requests costs one write instead of one per line; without a loop
    // each line is written at once.
    void SetEcho(bool on);
    bool Echo() const { return echo_; }
    // Where the echo goes (standard output unless a test says otherwise).
    void SetEchoStream(std::FILE* stream);
    // Writes the gathered echo lines now.
    void FlushEcho();

    // Closes the daily file (shutdown); the next line opens it again.
    void CloseFile();
    bool FileOpen() const { return file_ != nullptr; }
    // The "yyyymmdd" of the open file, empty when none is open.
    const std::string& FileDate() const { return fileDate_; }
    std::filesystem::path LogFolder() const { return programDir_ / "logs"; }

    // Control bytes become "?".
    static std::string CleanText(std::string_view text);

  private:
    void WriteFileLine(const std::string& line, double localNow);
    void Echo(const std::string& line);
    // The line's "hh:mm:ss" and local time, converted once per second of the clock.
    void Stamp(double& localNow);

    const Settings& settings_;
    const kest::IClock& clock_;
    std::filesystem::path programDir_;
    std::deque<std::string> buffer_;
    std::deque<std::string> window_;
    bool bufferActive_ = false;
    bool windowOpen_ = false;
    bool echo_ = false;
    std::FILE* echoStream_ = stdout;
    std::FILE* file_ = nullptr;
    std::string fileDate_;
    std::function<void(const std::string&)> observer_;

    static constexpr size_t kEchoBufferBytes = 65536;
    std::string line_;  // the line being built, reused
    bool building_ = false;
    std::string pending_;  // echo lines not yet written
    std::shared_ptr<void> idleHook_;
    double stampUtc_ = -1;
    double stampLocal_ = 0;
    std::string stamp_;  // "hh:mm:ss" of stampUtc_
};

}  // namespace modMain
