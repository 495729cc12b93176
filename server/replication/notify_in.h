#pragma once
// A received NOTIFY: acknowledged (or answered with a server failure for an unknown zone), and
// the zone checked against its primary at once unless a master directory keeps the zones.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "server/authority/clDNSAuthData.h"
#include "server/replication/ctlZTS.h"
#include "server/resolver/clDNSRequest.h"

namespace modReplication {

struct NotifyInHost {
    IDatagramSender* sender = nullptr;     // the server's UDP socket
    std::function<ITcpAnswerSink*()> tcp;  // the TCP connections; may give null
    std::function<void(int icon)> doTray;
    std::function<void()> pump;  // lets pending events run once
};

class clNotifyIn {
  public:
    clNotifyIn(clDNSAuthData& store, ctlZTS& client, NotifyInHost host);
    // port < 0: the NOTIFY came over TCP on connection -port.
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                    const std::string& message);

  private:
    bool Send(const std::string& reply, const std::string& ip, int32_t port);

    clDNSAuthData& store_;
    ctlZTS& client_;
    NotifyInHost host_;
};

}  // namespace modReplication
