#pragma once
// The classless reverse zone look-up: asks the local DNS server for the CNAME the parent zone
// holds for the network's first host address, whose target names the delegated zone.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/editor.h"

namespace editor {

// The look-up's UDP socket; replies come back through frmArpaLU::Reply.
class ILookupSocket {
  public:
    virtual ~ILookupSocket() = default;
    // False when the datagram could not be sent (the next tick sends again).
    virtual bool Send(const std::string& data, const std::string& ip, uint16_t port) = 0;
    virtual void Close() = 0;
};

class frmArpaLU {
  public:
    static constexpr int kIntervalMs = 3000;
    static constexpr int kMaxLines = 5;

    frmArpaLU(const clEditor& ed, ILookupSocket& socket);

    // The query's bytes for LookFor.
    std::string Query() const;
    // Sends the query once and lists it; starts the timer.
    void LookUp();
    // The timer's tick: sends again, or gives up after five sends.
    void Tick();
    // A datagram from the socket; anything but the reply to our query from the server asked is
    // ignored.
    void Reply(const std::string& data, const std::string& fromIp, uint16_t fromPort);
    // "OK": the zone name found, for the wizard ("" leaves the wizard as it is).
    std::string OK() const { return ZoneNameIs; }
    void Cancel();

    std::string LookFor;
    std::string ZoneNameIs;
    std::vector<std::string> Lines;
    bool TimerActive = false;
    bool OKEnabled = false;
    // Runs after a reply changed the window.
    std::function<void()> Changed;

  private:
    void Finish();

    std::string serverIp_;
    uint16_t serverPort_;
    ILookupSocket& socket_;
    bool closed_ = false;
};

// The look-up socket on the platform's UDP socket, bound to a free port at the first send.
// Needs the event loop.
std::unique_ptr<ILookupSocket> MakeUdpLookupSocket(
    std::function<void(const std::string&, const std::string&, uint16_t)> onReply);

}  // namespace editor
