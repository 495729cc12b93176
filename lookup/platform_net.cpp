#include "lookup/platform_net.h"

namespace lookup {

PlatformQueryNet::PlatformQueryNet() = default;
PlatformQueryNet::~PlatformQueryNet() = default;

void PlatformQueryNet::Resolve(uint64_t ticket, const std::string& host) {
    hosts_.Lookup(host, [this, ticket](std::string ip, std::string error) {
        if (events_) events_->OnResolved(ticket, ip, error);
    });
}

int PlatformQueryNet::UdpSend(const std::string& data, const std::string& ip, uint16_t port,
                              std::string& errorText) {
    if (!udp_) {
        udp_ = std::make_unique<platform::UdpSocket>();
        udp_->OnData = [this](const platform::Datagram& d) {
            if (events_) events_->OnDatagram(d.data, d.fromIp, d.fromPort);
        };
    }
    // A fresh port for every query, so a late reply to an earlier one finds nobody.
    if (!udp_->IsOpen() && !udp_->Bind("", 0)) {
        const platform::SocketError e = udp_->LastError();
        errorText = e.text;
        return e.number ? e.number : -1;
    }
    if (udp_->SendTo(data, ip, port)) return 0;
    const platform::SocketError e = udp_->LastError();
    errorText = e.text;
    return e.number ? e.number : -1;
}

void PlatformQueryNet::UdpClose() {
    // Closed inside its own data handler at times: the socket goes once the handler returns.
    if (udp_) udp_->Close();
}

bool PlatformQueryNet::TcpConnect(Channel ch, const std::string& ip, uint16_t port,
                                  std::string& errorText) {
    auto& c = tcp_[static_cast<int>(ch)];
    if (!c) {
        c = std::make_unique<platform::TcpConnection>();
        c->OnConnect = [this, ch] {
            if (events_) events_->OnTcpConnect(ch);
        };
        c->OnData = [this, ch](const std::string& bytes) {
            if (events_) events_->OnTcpData(ch, bytes);
        };
        c->OnClose = [this, ch] {
            if (events_) events_->OnTcpClose(ch);
        };
        c->OnError = [this, ch](const platform::SocketError& e) {
            if (events_) events_->OnTcpError(ch, e.number, e.text);
        };
    }
    c->Close();
    if (c->Connect(ip, port)) return true;
    errorText = c->LastError().text;
    return false;
}

bool PlatformQueryNet::TcpSend(Channel ch, const std::string& data) {
    auto& c = tcp_[static_cast<int>(ch)];
    return c && c->Send(data);
}

void PlatformQueryNet::TcpClose(Channel ch) {
    auto& c = tcp_[static_cast<int>(ch)];
    if (c) c->Close();
}

}  // namespace lookup
