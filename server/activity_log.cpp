#include "server/activity_log.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "core/datetime.h"
#include "core/report.h"
#include "platform/event_pump.h"

namespace modMain {
namespace {

// Whether any byte is below 0x20 or is 0x7F, eight bytes at a time (nearly every line has none).
bool HasControlByte(std::string_view text) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t x;
        std::memcpy(&x, text.data() + i, 8);
        const uint64_t del = x ^ (0x7F * kOnes);
        // A byte below 0x20 (high bit clear), or a byte equal to 0x7F.
        if ((((x - 0x20 * kOnes) & ~x) | ((del - kOnes) & ~del)) & kHigh) return true;
    }
    for (; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

}  // namespace

ActivityLog::ActivityLog(const Settings& settings, const kest::IClock& clock,
                         std::filesystem::path programDir)
    : settings_(settings), clock_(clock), programDir_(std::move(programDir)) {}

ActivityLog::~ActivityLog() {
    idleHook_.reset();
    FlushEcho();
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

void ActivityLog::Stamp(double& localNow) {
    const double utc = clock_.Now();
    if (utc != stampUtc_ || stamp_.empty()) {
        stampLocal_ = clock_.ToLocal(utc);
        stamp_ = kest::FormatTime(stampLocal_);
        stampUtc_ = utc;
    }
    localNow = stampLocal_;
}

void ActivityLog::AddLine(int kind, std::string_view text) {
    // A window observer may log in its turn: only the outermost line uses the reused buffer.
    std::string nested;
    const bool outer = !building_;
    std::string& line = outer ? line_ : nested;
    building_ = true;
    try {
        if (Wanted(kind)) {
            double localNow = 0;
            Stamp(localNow);
            line.assign(stamp_);
            line.append("   ");
            const size_t start = line.size();
            line.append(text);
            if (HasControlByte(text)) {
                for (size_t i = start; i < line.size(); ++i) {
                    const auto b = static_cast<unsigned char>(line[i]);
                    if (b < 0x20 || b == 0x7F) line[i] = '?';
                }
            }

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
            if (echo_ && echoStream_) Echo(line);
        }
    } catch (...) {
        kest::ReportError("modMain AddLine");
    }
    if (outer) building_ = false;
}

void ActivityLog::Echo(const std::string& line) {
    if (!idleHook_) idleHook_ = platform::WhenLoopIdle([this] { FlushEcho(); });
    pending_.append(line);
    pending_.push_back('\n');
    if (!idleHook_ || pending_.size() >= kEchoBufferBytes) FlushEcho();
}

void ActivityLog::FlushEcho() {
    if (pending_.empty()) return;
    if (echoStream_) {
        std::fwrite(pending_.data(), 1, pending_.size(), echoStream_);
        std::fflush(echoStream_);
    }
    pending_.clear();
}

void ActivityLog::SetEcho(bool on) {
    if (!on) FlushEcho();
    echo_ = on;
}

void ActivityLog::SetEchoStream(std::FILE* stream) {
    FlushEcho();
    echoStream_ = stream;
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
