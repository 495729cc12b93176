#pragma once
// The reload datagram on a real socket, from 127.0.0.1 (the only sender the server listens to).
#include "editor/editor.h"

namespace editor {

class UdpReloadSender : public IReloadSender {
  public:
    void Send(const std::string& text, uint16_t port) override;
};

}  // namespace editor
