#pragma once
// Lets pending events run from inside a handler (QCoreApplication::processEvents). Handlers of
// other events, including another datagram's, may run inside Pump().
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/host.h"

namespace platform {

// Calls fn each time the event loop is about to wait for new events, until the returned handle
// is released. Null (and fn never called) when no event loop exists.
std::shared_ptr<void> WhenLoopIdle(std::function<void()> fn);

class EventPump : public IEventPump {
  public:
    // maxDepth: how many Pump() calls may be nested; minIntervalMs: a call within this many
    // milliseconds of the last pump's end is skipped, so a burst does not spin the loop.
    explicit EventPump(int maxDepth = 4, int minIntervalMs = 5);

    void Pump() override;

    int Depth() const { return depth_; }
    int64_t Pumped() const { return pumped_; }
    int64_t Skipped() const { return skipped_; }

  private:
    int maxDepth_;
    int minIntervalMs_;
    int depth_ = 0;
    int64_t lastEndMs_ = -1'000'000;
    int64_t pumped_ = 0;
    int64_t skipped_ = 0;
};

}  // namespace platform
