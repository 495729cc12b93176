#pragma once
// Host names to IPv4 addresses through the system resolver (getaddrinfo on Qt's look-up threads),
// so the one thread never waits for a name server.
#include <functional>
#include <memory>
#include <string>

namespace platform {

class HostLookup {
  public:
    HostLookup();
    ~HostLookup();  // abandons a look-up still running
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // done runs later in the event loop with the first IPv4 address, or "" and the error's text.
    // A new Lookup abandons the one before (its done never runs).
    void Lookup(const std::string& host,
                std::function<void(std::string ip, std::string error)> done);
    void Abandon();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
