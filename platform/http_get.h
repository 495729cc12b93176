#pragma once
// One HTTP(S) GET with Qt Network, waiting in a local event loop (so other events run meanwhile),
// with a time-out, a size limit and a progress callback that can cancel.
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct HttpResult {
    bool ok = false;  // a complete 2xx reply
    std::string body;
    std::string error;  // the reason when not ok
};

// progress(received, total) runs as data arrives (total -1 when unknown) and returns false to
// cancel. A reply larger than maxBytes fails.
HttpResult HttpGet(const std::string& url, int timeoutMs,
                   const std::function<bool(int64_t, int64_t)>& progress,
                   int64_t maxBytes = 4 * 1024 * 1024);

}  // namespace platform
