#pragma once
// Internal to platform/: safe disposal of Qt objects whose signal may be running right now.
#include <QObject>

namespace platform::detail {

// Counts the platform callbacks running on this thread.
class DispatchScope {
  public:
    DispatchScope() { ++depth_; }
    ~DispatchScope() { --depth_; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;
    static bool Inside() { return depth_ > 0; }

  private:
    static inline thread_local int depth_ = 0;
};

// Cuts the object's connections and deletes it, later when one of our callbacks is running
// (its own signal may be the one being delivered).
inline void Dispose(QObject* object) {
    if (object == nullptr) return;
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    if (DispatchScope::Inside()) {
        object->deleteLater();
    } else {
        delete object;
    }
}

}  // namespace platform::detail
