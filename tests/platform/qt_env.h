#pragma once
// The Qt application object every platform test needs, and a way to let the loop run until
// something has happened.
#include <functional>

namespace kest::test {

// Runs the event loop until done() is true or timeoutMs passed; returns done().
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the event loop for about ms milliseconds.
void RunFor(int ms);

}  // namespace kest::test
