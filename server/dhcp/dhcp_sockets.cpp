#include "server/dhcp/dhcp_sockets.h"

#include "platform/interfaces.h"
#include "platform/sockets.h"

namespace modDHCP {

clDHCPSockets::clDHCPSockets(Hooks hooks) : hooks_(std::move(hooks)) {}

clDHCPSockets::~clDHCPSockets() {
    CloseAll();
}

void clDHCPSockets::Open(const std::vector<clDHCPif>& interfaces, uint16_t port) {
    const auto devices = platform::ListInterfaces();
    for (const clDHCPif& f : interfaces) {
        if (sockets_.size() >= kMaxSockets) break;
        auto socket = std::make_unique<platform::UdpSocket>();
        std::string device;
        for (const auto& d : devices)
            if (d.ip == f.IPaddr && !d.loopback) device = d.name;
        bool bound;
        if (!device.empty()) {
            socket->SetBroadcast(true);
            socket->SetDevice(device);
            bound = socket->Bind("0.0.0.0", port);
        } else {
            // Not an address of this machine (or loopback): bound as given, which then fails
            // or sees unicast only.
            socket->SetBroadcast(true);
            bound = socket->Bind(f.IPaddr, port);
        }
        if (!bound) {
            if (hooks_.log) hooks_.log(0, "Binding DHCP service to " + f.IPaddr + " failed!");
            continue;
        }
        const auto index = static_cast<int16_t>(sockets_.size() + 1);
        socket->OnData = [this, index](const platform::Datagram& d) {
            if (hooks_.onData) hooks_.onData(index, d.data, d.fromIp);
        };
        socket->OnError = [this, index](const platform::SocketError& e) {
            if (!e.IsConnectionReset() && hooks_.onError) hooks_.onError(index, e);
        };
        sockets_.push_back(Entry{std::move(socket), f.IPaddr});
        if (hooks_.log) hooks_.log(0, "DHCP service started on " + f.IPaddr);
    }
}

void clDHCPSockets::CloseAll() {
    for (auto& e : sockets_) e.socket->Close();
    sockets_.clear();
}

std::string clDHCPSockets::LocalAddress(int16_t i) const {
    if (i < 1 || static_cast<size_t>(i) > sockets_.size()) return {};
    return sockets_[static_cast<size_t>(i - 1)].address;
}

uint16_t clDHCPSockets::LocalPort(int16_t i) const {
    if (i < 1 || static_cast<size_t>(i) > sockets_.size()) return 0;
    return sockets_[static_cast<size_t>(i - 1)].socket->LocalPort();
}

int clDHCPSockets::State(int16_t i) const {
    if (i < 1 || static_cast<size_t>(i) > sockets_.size()) return 0;
    return sockets_[static_cast<size_t>(i - 1)].socket->State();
}

bool clDHCPSockets::Send(int16_t wsIndex, const std::string& data, const std::string& ip,
                         uint16_t port) {
    if (wsIndex < 1 || static_cast<size_t>(wsIndex) > sockets_.size()) return false;
    const Entry& e = sockets_[static_cast<size_t>(wsIndex - 1)];
    return e.socket->SendTo(data, ip, port, e.address);
}

}  // namespace modDHCP
