// The DNS socket as the request intake's sender; kept apart so that the intake itself builds
// without the socket layer (the datagram fuzz target does).
#include <cerrno>
#include <cstring>

#include "platform/sockets.h"
#include "server/intake.h"

namespace modMain {

bool UdpSocketSender::SendTo(const std::string& data, const std::string& ip, uint16_t port,
                             const std::string& fromLocalIp, Failure& failure) {
    platform::UdpSocket* socket = socket_ ? socket_(ip, fromLocalIp) : nullptr;
    if (!socket) {
        failure = {EBADF, std::strerror(EBADF)};
        return false;
    }
    if (socket->SendTo(data, ip, port, fromLocalIp)) return true;
    const platform::SocketError e = socket->LastError();
    failure = {e.number, e.text};
    return false;
}

}  // namespace modMain
