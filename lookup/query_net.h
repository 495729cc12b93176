#pragma once
// The network the look-up window uses: one UDP socket for queries, two TCP connections (zone
// transfer, WHOIS) and host look-ups. The window's controller is written against this interface;
// the program passes platform sockets (PlatformQueryNet), unit tests a scripted fake.
#include <cstdint>
#include <functional>
#include <string>

namespace lookup {

enum class Channel { Zone = 0, Whois = 1 };

// What the network reports back to its user; every call comes from the event loop.
class INetEvents {
  public:
    virtual ~INetEvents() = default;
    virtual void OnResolved(uint64_t ticket, const std::string& ip, const std::string& error) = 0;
    virtual void OnDatagram(const std::string& data, const std::string& fromIp,
                            uint16_t fromPort) = 0;
    virtual void OnTcpConnect(Channel ch) = 0;
    virtual void OnTcpData(Channel ch, const std::string& bytes) = 0;
    virtual void OnTcpClose(Channel ch) = 0;
    virtual void OnTcpError(Channel ch, int number, const std::string& text) = 0;
};

class IQueryNet {
  public:
    virtual ~IQueryNet() = default;
    virtual void SetEvents(INetEvents* events) = 0;
    // Looks the host name up without waiting; OnResolved(ticket, ...) follows with one IPv4
    // address, or an empty address and the error's text.
    virtual void Resolve(uint64_t ticket, const std::string& host) = 0;
    // One datagram to ip:port (the socket is opened when needed). 0 when sent, else the errno.
    virtual int UdpSend(const std::string& data, const std::string& ip, uint16_t port,
                        std::string& errorText) = 0;
    virtual void UdpClose() = 0;
    // Starts a connection; OnTcpConnect or OnTcpError follows. false (with the error's text) when
    // it failed at once.
    virtual bool TcpConnect(Channel ch, const std::string& ip, uint16_t port,
                            std::string& errorText) = 0;
    virtual bool TcpSend(Channel ch, const std::string& data) = 0;
    virtual void TcpClose(Channel ch) = 0;
};

}  // namespace lookup
