#pragma once
// The Qt application object every platform test needs, and a way to let the loop run until
// something has happened.
#include <functional>

namespace kest::test {

// Runs the event loop until done() is true or timeoutMs passed; returns done(). The bound is
// only there to end a test whose event never comes, so it is generous for a loaded machine.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 30000);
// Runs the event loop until a timer started now with this interval has fired `times` times.
// Before a check that something did not happen: whatever was due by then (a readable socket,
// a signal in the pipe, a timer of no longer an interval) has had its turn, however slow the
// machine is.
void RunTicks(int intervalMs, int times = 3);

}  // namespace kest::test
