#include "platform/event_pump.h"

#include <time.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace platform {
namespace {

int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace

std::shared_ptr<void> WhenLoopIdle(std::function<void()> fn) {
    QAbstractEventDispatcher* dispatcher =
        QCoreApplication::instance() ? QAbstractEventDispatcher::instance() : nullptr;
    if (dispatcher == nullptr) return nullptr;
    auto* connection = new QMetaObject::Connection(
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, std::move(fn)));
    return std::shared_ptr<void>(connection, [](void* p) {
        auto* c = static_cast<QMetaObject::Connection*>(p);
        QObject::disconnect(*c);
        delete c;
    });
}

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
