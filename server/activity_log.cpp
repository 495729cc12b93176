#include "server/activity_log.h"

#include <sys/stat.h>

#include <utility>

#include "core/datetime.h"
#include "core/report.h"

namespace modMain {

ActivityLog::ActivityLog(const Settings& settings, const kest::IClock& clock,
                         std::filesystem::path programDir)
    : settings_(settings), clock_(clock), programDir_(std::move(programDir)) {}

ActivityLog::~ActivityLog() {
    CloseFile();
}

bool ActivityLog::KindShown(int kind) const {
    switch (kind) {
        case kLogDetail:
            return settings_.LogDetail;
        case kLogOutside:
            return !settings_.LogInOnly;
        case kLogRecord:
            return settings_.LogDetail && !settings_.LogInOnly;
        default:
            return true;
    }
}

bool ActivityLog::Wanted(int kind) const {
    return KindShown(kind) && (bufferActive_ || windowOpen_ || settings_.WriteLog || echo_);
}

std::string ActivityLog::CleanText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = '?';
    }
    return out;
}

void ActivityLog::AddLine(int kind, std::string_view text) {
    try {
        if (!Wanted(kind)) return;
        const double localNow = clock_.LocalNow();
        const std::string line = kest::FormatTime(localNow) + "   " + CleanText(text);

        if (bufferActive_) {
            if (buffer_.size() >= kMaxLines) buffer_.pop_front();
            buffer_.push_back(line);
        }
        if (windowOpen_) {
            if (window_.size() >= kMaxLines) window_.pop_front();
            window_.push_back(line);
            if (observer_) observer_(line);
        }
        if (settings_.WriteLog) WriteFileLine(line, localNow);
        if (echo_ && echoStream_) {
            std::fwrite(line.data(), 1, line.size(), echoStream_);
            std::fputc('\n', echoStream_);
            std::fflush(echoStream_);
        }
    } catch (...) {
        kest::ReportError("modMain AddLine");
    }
}

void ActivityLog::WriteFileLine(const std::string& line, double localNow) {
    const std::string today = kest::FormatDateCompact(localNow);
    if (file_ && today != fileDate_) CloseFile();
    if (!file_) {
        const std::filesystem::path folder = LogFolder();
        ::mkdir(folder.c_str(), 0755);  // an existing folder is fine
        const std::filesystem::path path = folder / (today + ".log");
        file_ = std::fopen(path.c_str(), "abe");  // not inherited by programs we start
        if (!file_) return;                       // skipped; the next line tries again
        fileDate_ = today;
    }
    const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                    std::fwrite("\r\n", 1, 2, file_) == 2 && std::fflush(file_) == 0;
    // A file that stops taking lines (disk full, removed medium) is treated like one that could
    // not be opened: this line is lost and the next one opens it again.
    if (!ok) CloseFile();
}

void ActivityLog::CloseFile() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    fileDate_.clear();
}

void ActivityLog::OpenWindow() {
    bufferActive_ = true;
    if (windowOpen_) return;
    windowOpen_ = true;
    window_ = buffer_;
}

void ActivityLog::CloseWindow() {
    windowOpen_ = false;
    window_.clear();
}

void ActivityLog::SetWindowObserver(std::function<void(const std::string& line)> observer) {
    observer_ = std::move(observer);
}

void ActivityLog::Clear() {
    buffer_.clear();
    window_.clear();
}

}  // namespace modMain
