#pragma once
// The root hints file fetched from the Internet: how it is fetched (an interface, so tests pass a
// fake) and the check it must pass before it may replace named.root.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace serverui {

inline constexpr const char* kDefaultRootFileUrl = "https://www.internic.net/domain/named.root";

struct FetchResult {
    bool ok = false;
    std::string body;
    std::string error;  // why it failed, for the user
};

class IRootFetcher {
  public:
    virtual ~IRootFetcher() = default;
    // Fetches url, letting events run meanwhile. progress(received, total) is called as data
    // comes in (total -1 when unknown); it returns false to cancel.
    virtual FetchResult Fetch(const std::string& url, int timeoutMs,
                              const std::function<bool(int64_t, int64_t)>& progress) = 0;
};

// True when text holds at least one NS record of "." whose name server has an A record in the
// same text: what the cache needs to start recursion.
bool RootFileUsable(std::string_view text);

}  // namespace serverui
