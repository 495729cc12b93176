#pragma once
// The DHCP sockets: one per configured interface (at most 10), numbered from 1. A client without
// an address broadcasts, and on Linux a socket bound to one address never sees a broadcast, so
// each socket listens on 0.0.0.0:67 tied to the device that holds the interface's address; its
// broadcast replies leave through that device, from that address.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/dhcp/clDHCPif.h"
#include "server/dhcp/modDHCP.h"

namespace platform {
class UdpSocket;
struct SocketError;
}  // namespace platform

namespace modDHCP {

class clDHCPSockets : public IDHCPSender {
  public:
    struct Hooks {
        std::function<void(int kind, std::string_view text)> log;
        // A datagram on socket i (from 1).
        std::function<void(int16_t i, std::string_view data, const std::string& sender)> onData;
        // A socket error other than a reset by the peer.
        std::function<void(int16_t i, const platform::SocketError& e)> onError;
    };

    explicit clDHCPSockets(Hooks hooks);
    ~clDHCPSockets() override;
    clDHCPSockets(const clDHCPSockets&) = delete;
    clDHCPSockets& operator=(const clDHCPSockets&) = delete;

    // Opens one socket per interface, in order, with the log lines of each; an interface that
    // cannot be bound is logged and passed over. port is 67 but for tests.
    void Open(const std::vector<clDHCPif>& interfaces, uint16_t port = kServerPort);
    // Closes and removes every socket.
    void CloseAll();

    size_t Count() const { return sockets_.size(); }
    // The interface address socket i was opened for; empty when there is no such socket.
    std::string LocalAddress(int16_t i) const;
    // The port socket i is bound to, 0 when there is no such socket.
    uint16_t LocalPort(int16_t i) const;
    // The socket's state ("WS-State"), 0 when there is no such socket.
    int State(int16_t i) const;

    bool Send(int16_t wsIndex, const std::string& data, const std::string& ip,
              uint16_t port) override;

  private:
    struct Entry {
        std::unique_ptr<platform::UdpSocket> socket;
        std::string address;
    };
    Hooks hooks_;
    std::vector<Entry> sockets_;
};

}  // namespace modDHCP
