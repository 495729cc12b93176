#include "platform/event_pump.h"

#include <time.h>

#include <QCoreApplication>

namespace platform {
namespace {

int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace

EventPump::EventPump(int maxDepth, int minIntervalMs)
    : maxDepth_(maxDepth < 1 ? 1 : maxDepth),
      minIntervalMs_(minIntervalMs < 0 ? 0 : minIntervalMs) {}

void EventPump::Pump() {
    if (QCoreApplication::instance() == nullptr || depth_ >= maxDepth_ ||
        NowMs() - lastEndMs_ < minIntervalMs_) {
        ++skipped_;
        return;
    }
    ++depth_;
    ++pumped_;
    try {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } catch (...) {
        --depth_;
        lastEndMs_ = NowMs();
        throw;
    }
    --depth_;
    lastEndMs_ = NowMs();
}

}  // namespace platform
