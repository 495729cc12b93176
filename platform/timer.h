#pragma once
// A timer of the event loop (QTimer underneath), single-shot or repeating.
#include <functional>
#include <memory>

namespace platform {

class Timer {
  public:
    Timer();
    explicit Timer(int intervalMs, bool singleShot = false);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void SetInterval(int ms);
    int Interval() const;
    void SetSingleShot(bool singleShot);
    bool IsSingleShot() const;

    // (Re)starts the countdown with the current interval.
    void Start();
    void Start(int intervalMs);
    void Stop();
    bool IsActive() const;

    // Runs in the event loop; it may stop, restart or destroy this timer.
    std::function<void()> OnTimeout;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
