#pragma once
// The DNS side of TCP: one ctlZT per accepted connection (reassembles length-prefixed messages,
// answers queries through the resolver and zone transfer requests from the store, passes NOTIFY
// messages on, closes idle connections), and the array of them, TCPcon, which takes the
// listener's connections and routes the resolver's replies back to the right connection.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/replication/zone_transfer.h"
#include "server/resolver/clDNSRequest.h"

class clDNSAuthData;
namespace platform {
class TcpConnection;
class Timer;
}  // namespace platform

// What the connections need of the server. zones and log are required; the rest may be empty.
struct ZTContext {
    clDNSAuthData* zones = nullptr;
    modZT::LogFn log;
    std::function<void(int icon)> doTray;
    // Counts a request in the server's statistics.
    std::function<void()> countRequest;
    // Hands a TCP query to the resolver: ID, rd, name, type, peer, and the negative connection
    // number in place of a UDP port.
    std::function<void(int32_t id, bool rd, const std::string& name, int32_t type,
                       const std::string& ip, int32_t port)>
        createRequest;
    // Connections from blocked addresses are closed at once.
    std::function<bool(const std::string& ip)> isBlocked;
};

class ctlZT {
  public:
    static constexpr int kIdle = 120;         // seconds of silence before the connection closes
    static constexpr int kIdleWorking = 600;  // after a query or transfer request was taken
    // A peer that has taken none of the queued bytes for this long has stopped reading.
    static constexpr int kStallSeconds = 30;

    explicit ctlZT(ZTContext& context) : ctx_(context) {}
    ctlZT(const ctlZT&) = delete;
    ctlZT& operator=(const ctlZT&) = delete;

    int32_t ConID = 0;
    bool Busy = false;

    // Takes over a new connection under the given number.
    void Accept(int32_t conId, std::unique_ptr<IZTSocket> socket, const std::string& peer);
    // A reply of the resolver (without prefix). False when it could not be queued.
    bool SendAnswer(const std::string& message);
    // Bytes received from the peer.
    void DataArrival(const std::string& bytes);
    // The peer closed the connection, or it broke.
    void PeerClosed();
    // The one-second tick: idle countdown and the check of a peer that stopped reading.
    void TimerTick();
    // Closes the connection and frees the instance.
    void Close();

    int Countdown() const { return countdown_; }
    const std::string& Peer() const { return peer_; }
    size_t Buffered() const { return buffer_.size(); }

  private:
    void ProcReq(const std::string& message);
    void NotImplemented(const std::string& message, const std::string& description);
    bool SendFramed(const std::string& message);
    void Log(std::string_view text) const;

    ZTContext& ctx_;
    std::unique_ptr<IZTSocket> socket_;
    std::string buffer_;
    std::string peer_;
    int countdown_ = 0;
    size_t lastPending_ = 0;
    int stalled_ = 0;
};

// TCPcon: the connection instances, reused once free, at most kMaxConnections busy at once.
class clTcpConnections : public ITcpAnswerSink {
  public:
    static constexpr size_t kMaxConnections = 64;
    // What one connection may hold queued for a slow peer.
    static constexpr size_t kSendQueueLimit = 32u << 20;

    explicit clTcpConnections(ZTContext context);
    ~clTcpConnections() override;
    clTcpConnections(const clTcpConnections&) = delete;
    clTcpConnections& operator=(const clTcpConnections&) = delete;

    // A connection of the listener: closed at once when its peer is blocked or every one of the
    // kMaxConnections is busy, else served by the first free instance.
    void Take(std::unique_ptr<platform::TcpConnection> connection);
    // The same for any socket (tests); null when the connection was refused.
    ctlZT* Accept(std::unique_ptr<IZTSocket> socket, const std::string& peer);

    bool SendAnswer(int32_t connectionId, const std::string& message) override;
    // One second passed for every busy connection.
    void Tick();
    // Closes every connection (the server pauses).
    void CloseAll();

    size_t BusyCount() const;
    std::vector<std::unique_ptr<ctlZT>>& TCPcon() { return cons_; }
    ZTContext& Context() { return ctx_; }

  private:
    ZTContext ctx_;
    std::vector<std::unique_ptr<ctlZT>> cons_;
    int32_t nextConId_ = 0;
    std::unique_ptr<platform::Timer> timer_;
};
