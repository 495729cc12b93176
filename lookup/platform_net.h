#pragma once
// The look-up tool's network on the platform's sockets and host look-up.
#include <memory>

#include "lookup/query_net.h"
#include "platform/host_lookup.h"
#include "platform/sockets.h"

namespace lookup {

class PlatformQueryNet : public IQueryNet {
  public:
    PlatformQueryNet();
    ~PlatformQueryNet() override;
    void SetEvents(INetEvents* events) override { events_ = events; }
    void Resolve(uint64_t ticket, const std::string& host) override;
    int UdpSend(const std::string& data, const std::string& ip, uint16_t port,
                std::string& errorText) override;
    void UdpClose() override;
    bool TcpConnect(Channel ch, const std::string& ip, uint16_t port,
                    std::string& errorText) override;
    bool TcpSend(Channel ch, const std::string& data) override;
    void TcpClose(Channel ch) override;

  private:
    INetEvents* events_ = nullptr;
    platform::HostLookup hosts_;
    std::unique_ptr<platform::UdpSocket> udp_;
    std::unique_ptr<platform::TcpConnection> tcp_[2];
};

}  // namespace lookup
