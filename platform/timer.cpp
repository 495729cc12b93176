#include "platform/timer.h"

#include <QTimer>

#include "platform/dispatch.h"

namespace platform {

struct Timer::Impl {
    QTimer* timer = new QTimer;
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
    impl_->timer->setTimerType(Qt::CoarseTimer);
    QObject::connect(impl_->timer, &QTimer::timeout, [this] {
        detail::DispatchScope scope;
        // A copy: the callback may destroy this timer.
        const auto onTimeout = OnTimeout;
        if (onTimeout) onTimeout();
    });
}

Timer::Timer(int intervalMs, bool singleShot) : Timer() {
    SetInterval(intervalMs);
    SetSingleShot(singleShot);
}

Timer::~Timer() {
    impl_->timer->stop();
    detail::Dispose(impl_->timer);
}

void Timer::SetInterval(int ms) {
    impl_->timer->setInterval(ms < 0 ? 0 : ms);
}
int Timer::Interval() const {
    return impl_->timer->interval();
}
void Timer::SetSingleShot(bool singleShot) {
    impl_->timer->setSingleShot(singleShot);
}
bool Timer::IsSingleShot() const {
    return impl_->timer->isSingleShot();
}
void Timer::Start() {
    impl_->timer->start();
}

void Timer::Start(int intervalMs) {
    SetInterval(intervalMs);
    impl_->timer->start();
}

void Timer::Stop() {
    impl_->timer->stop();
}
bool Timer::IsActive() const {
    return impl_->timer->isActive();
}

}  // namespace platform
