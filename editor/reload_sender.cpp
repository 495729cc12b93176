#include "editor/reload_sender.h"

#include "platform/sockets.h"

namespace editor {

void UdpReloadSender::Send(const std::string& text, uint16_t port) {
    platform::UdpSocket socket;
    // Errors are ignored: a server that is not running simply misses the datagram.
    if (socket.Bind("127.0.0.1", 0)) socket.SendTo(text, "127.0.0.1", port);
    socket.Close();
}

}  // namespace editor
