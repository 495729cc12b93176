#pragma once
// UDP and TCP sockets over non-blocking POSIX sockets, driven by the event loop of the one thread.
// Events arrive through std::function callbacks; a callback may close or destroy its own socket.
// Needs a QCoreApplication (or QApplication) to exist.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The socket states reported as "WS-State", kept with their old numbers.
enum SocketState : int {
    kStateClosed = 0,             // no socket
    kStateOpen = 1,               // bound UDP socket, or a TCP socket that is open but idle
    kStateListening = 2,          // TCP listener accepting connections
    kStateConnectionPending = 3,  // not used: connections are accepted at once
    kStateResolvingHost = 4,      // not used: only dotted addresses are taken
    kStateHostResolved = 5,       // not used
    kStateConnecting = 6,         // TCP connect in progress
    kStateConnected = 7,          // TCP connection established
    kStateClosing = 8,            // the peer closed its side; Close() finishes it
    kStateError = 9,              // the last operation failed (see LastError)
};

struct SocketError {
    int number = 0;    // errno; 0 for none
    std::string text;  // strerror text
    bool connectionReset = false;

    // "Connection reset by the peer", which handlers do not report: ECONNRESET, and on a UDP
    // socket also ECONNREFUSED (what an ICMP port unreachable turns into). A refused TCP connect
    // is not a reset.
    bool IsConnectionReset() const { return connectionReset; }
    // connectionReset is set for ECONNRESET; udp also sets it for ECONNREFUSED.
    static SocketError FromErrno(int err, bool udp = false);
};

struct Datagram {
    std::string data;
    std::string fromIp;
    uint16_t fromPort = 0;
    // The local address the datagram reached (IP_PKTINFO): the source to answer from. For a
    // broadcast it is the receiving interface's address.
    std::string localIp;
    // The datagram's destination as sent (255.255.255.255 for a broadcast, else as localIp).
    std::string destIp;
    int interfaceIndex = 0;
};

struct OutgoingDatagram {
    std::string data;
    std::string ip;
    uint16_t port = 0;
    std::string fromLocalIp;  // empty: let the kernel choose
};

class UdpSocket {
  public:
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to ip (empty or "0.0.0.0" for all addresses) and port (0: the system chooses).
    // A bound socket is closed first. False with LastError and state 9 on failure.
    bool Bind(const std::string& ip, uint16_t port);
    void Close();

    // One datagram; fromLocalIp (optional) is the source address to use, normally a received
    // Datagram's localIp. False with LastError when the kernel refused it.
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port,
                const std::string& fromLocalIp = "");
    // Several datagrams with as few system calls as possible (sendmmsg), in order; the bytes on
    // the wire are those of SendTo. Returns how many were sent; stops at the first failure.
    size_t SendBatch(const std::vector<OutgoingDatagram>& batch);

    // Options, kept for later binds and applied at once to a bound socket.
    bool SetBroadcast(bool on);
    bool SetReuseAddress(bool on);
    // Restricts the socket to one interface (SO_BINDTODEVICE; needs privileges); "" for none.
    bool SetDevice(const std::string& interfaceName);
    // With batching on, SendTo from inside OnData queues the datagram (after checking its
    // addresses) and returns true; the queue is sent with sendmmsg, in order, when the handlers
    // of the datagrams read together are done, and before any other send, and at Close. A
    // queued datagram the kernel refuses then goes to OnError instead of SendTo's result.
    // Off by default.
    void SetSendBatching(bool on);
    // How many datagrams one wake-up reads at most before the loop runs other events (default 64).
    void SetMaxDatagramsPerWakeup(int count);

    uint16_t LocalPort() const;
    std::string LocalIp() const;
    int State() const;
    SocketError LastError() const;
    bool IsOpen() const;

    std::function<void(const Datagram&)> OnData;
    // Receive or send errors found while reading; check IsConnectionReset().
    std::function<void(const SocketError&)> OnError;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class TcpConnection {
  public:
    TcpConnection();
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Starts a non-blocking connect to a dotted address; OnConnect follows on success, OnError
    // (state 9) on failure. False when it failed at once (LastError says why).
    bool Connect(const std::string& ip, uint16_t port);
    // Optional source address for Connect (bind before connecting); "" for any.
    void SetLocalAddress(const std::string& ip, uint16_t port = 0);

    // Queues data: what the kernel does not take now is kept and written when it can be.
    // False (nothing queued) when not connected, or when the unsent bytes would pass the limit.
    bool Send(const std::string& data);
    // Closes at once; unsent bytes are dropped. No OnClose follows a Close() of our own.
    void Close();
    // Closes once every queued byte has been written (or at once when nothing is queued).
    void CloseWhenSent();

    size_t PendingSendBytes() const;
    void SetSendBufferLimit(size_t bytes);  // default 16 MiB
    // The kernel's send buffer (SO_SNDBUF); for tests of the partial-send path.
    bool SetKernelSendBuffer(int bytes);

    std::string RemoteIp() const;
    uint16_t RemotePort() const;
    std::string LocalIp() const;
    uint16_t LocalPort() const;
    int State() const;
    SocketError LastError() const;

    std::function<void()> OnConnect;
    std::function<void(const std::string& bytes)> OnData;
    // The peer closed the connection, or it was reset (then OnError came first). State 8 or 9.
    std::function<void()> OnClose;
    std::function<void(const SocketError&)> OnError;

  private:
    friend class TcpListener;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    void Adopt(int fd);
};

class TcpListener {
  public:
    TcpListener();
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds to ip (empty or "0.0.0.0" for all) and port (0: the system chooses); SO_REUSEADDR.
    bool Bind(const std::string& ip, uint16_t port);
    bool Listen(int backlog = 64);
    void Close();

    uint16_t LocalPort() const;
    std::string LocalIp() const;
    int State() const;
    SocketError LastError() const;

    // Each accepted connection, connected (state 7); the handler owns it. Without a handler the
    // connection is closed at once.
    std::function<void(std::unique_ptr<TcpConnection>)> OnConnectionRequest;
    std::function<void(const SocketError&)> OnError;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
