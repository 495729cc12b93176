#pragma once
// The store's replication entry points, forwarded to the two halves of replication: the
// transfer server sends notifications, the secondary side answers received ones. A half that is
// not attached does nothing.
#include <cstdint>
#include <functional>
#include <string>

#include "server/authority/clDNSAuthData.h"

class clReplication : public IAuthReplication {
  public:
    using NotifyFn = std::function<void(const std::string& zoneName)>;
    // port < 0 is the negative connection number of a NOTIFY that came over TCP.
    using ProcNotifyFn = std::function<void(const std::string& ip, int32_t port,
                                            const std::string& zoneName,
                                            const std::string& message)>;

    NotifyFn notify;
    ProcNotifyFn procNotify;

    void Notify(const std::string& zoneName) override {
        if (notify) notify(zoneName);
    }
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                    const std::string& message) override {
        if (procNotify) procNotify(ip, port, zoneName, message);
    }
};
