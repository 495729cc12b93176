#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dispatch.h"

namespace platform {
namespace {

constexpr size_t kDatagramBuffer = 65536;  // larger than any IPv4 datagram
constexpr int kRecvBatch = 16;             // datagrams per recvmmsg call
constexpr int kSendBatch = 64;             // datagrams per sendmmsg call
constexpr size_t kTcpChunk = 65536;
constexpr int kTcpChunksPerWakeup = 16;
constexpr int kAcceptsPerWakeup = 32;
// A UDP socket's receive buffer: room for a few thousand queries, so a burst that arrives while
// the loop is busy waits in the kernel instead of being dropped.
constexpr int kUdpReceiveBuffer = 4 << 20;

// A socket's life, shared with the handlers running on it: they stop when it ends or is reopened.
struct Life {
    bool alive = true;
    uint64_t generation = 0;
};

bool ParseAddress(const std::string& ip, in_addr& out, bool emptyIsAny) {
    if (emptyIsAny && (ip.empty() || ip == "0.0.0.0")) {
        out.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, ip.c_str(), &out) == 1;
}

// Dotted text of an IPv4 address, as inet_ntop writes it, into out (no allocation: it fits the
// string's own room).
void AssignAddressText(std::string& out, const in_addr& addr) {
    const uint32_t a = ntohl(addr.s_addr);
    char buf[16];
    size_t n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned octet = (a >> shift) & 0xFF;
        if (octet >= 100) buf[n++] = static_cast<char>('0' + octet / 100);
        if (octet >= 10) buf[n++] = static_cast<char>('0' + octet / 10 % 10);
        buf[n++] = static_cast<char>('0' + octet % 10);
        if (shift > 0) buf[n++] = '.';
    }
    out.assign(buf, n);
}

std::string AddressText(const in_addr& addr) {
    std::string out;
    AssignAddressText(out, addr);
    return out;
}

sockaddr_in MakeSockaddr(const in_addr& addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    sa.sin_port = htons(port);
    return sa;
}

void LocalName(int fd, std::string& ip, uint16_t& port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd >= 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        ip = AddressText(sa.sin_addr);
        port = ntohs(sa.sin_port);
    } else {
        ip.clear();
        port = 0;
    }
}

// A new non-blocking socket of the type and the address it is to bind to; -1 with err set when
// the address is not a dotted IPv4 text (empty is any) or the socket cannot be made.
int NewSocket(const std::string& ip, uint16_t port, int type, sockaddr_in& sa, int& err) {
    in_addr addr{};
    if (!ParseAddress(ip, addr, true)) {
        err = EINVAL;
        return -1;
    }
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    sa = MakeSockaddr(addr, port);
    return fd;
}

bool SetIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Room for one IP_PKTINFO control message.
union PktInfoControl {
    char buf[CMSG_SPACE(sizeof(in_pktinfo))];
    cmsghdr align;
};

}  // namespace

SocketError SocketError::FromErrno(int err, bool udp) {
    SocketError e;
    e.number = err;
    e.text = std::strerror(err);
    e.connectionReset = err == ECONNRESET || (udp && err == ECONNREFUSED);
    return e;
}

// ---------------------------------------------------------------------------------------------
// UDP

struct UdpSocket::Impl {
    UdpSocket* owner;
    int fd = -1;
    int state = kStateClosed;
    SocketError error;
    QSocketNotifier* notifier = nullptr;
    std::shared_ptr<Life> life = std::make_shared<Life>();
    bool broadcast = false;
    bool reuseAddress = false;
    std::string device;
    int maxPerWakeup = 64;
    std::vector<char> buffer;  // kRecvBatch datagrams, allocated at the first read
    // Copies of a read batch, one per nesting level of OnReadable (a handler may pump events and
    // read again); their strings keep their room from one batch to the next.
    std::vector<std::vector<Datagram>> batches;
    int readDepth = 0;
    // Replies sent by the handlers of a read batch, sent together when the batch is done.
    bool batchSends = false;
    std::vector<OutgoingDatagram> queued;  // the first queuedCount are waiting; room is reused
    size_t queuedCount = 0;
    bool flushing = false;
    std::string localIp;
    uint16_t localPort = 0;

    explicit Impl(UdpSocket* o) : owner(o) {}

    void Fail(int err) { error = SocketError::FromErrno(err, true); }

    bool ApplyOptions() {
        if (broadcast && !SetIntOption(fd, SOL_SOCKET, SO_BROADCAST, 1)) return false;
        if (reuseAddress && !SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1)) return false;
        if (!device.empty() && ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                                            static_cast<socklen_t>(device.size())) != 0)
            return false;
        return true;
    }

    void Close() {
        FlushQueued();
        ++life->generation;
        if (notifier) {
            notifier->setEnabled(false);
            detail::Dispose(notifier);
            notifier = nullptr;
        }
        CloseFd(fd);
        state = kStateClosed;
        localIp.clear();
        localPort = 0;
    }

    // Sends count datagrams in order with as few sendmmsg calls as possible; stops at the first
    // failure (error says why). Returns how many were sent.
    size_t SendSome(const OutgoingDatagram* items, size_t count) {
        size_t sent = 0;
        bool waited = false;
        while (sent < count) {
            const size_t n = std::min(count - sent, static_cast<size_t>(kSendBatch));
            mmsghdr msgs[kSendBatch];
            sockaddr_in to[kSendBatch];
            iovec iovs[kSendBatch];
            PktInfoControl controls[kSendBatch];
            std::memset(msgs, 0, sizeof msgs);
            size_t ready = 0;
            for (; ready < n; ++ready) {
                bool ok = false;
                PrepareSend(items[sent + ready], to[ready], iovs[ready], controls[ready],
                            msgs[ready].msg_hdr, ok);
                if (!ok) break;
            }
            if (ready == 0) {
                Fail(EINVAL);
                return sent;
            }
            const int got = ::sendmmsg(fd, msgs, static_cast<unsigned>(ready), MSG_NOSIGNAL);
            if (got < 0) {
                const int err = errno;
                if (err == EINTR) continue;
                if ((err == EAGAIN || err == EWOULDBLOCK) && !waited && WaitWritable()) {
                    waited = true;
                    continue;
                }
                Fail(err);
                return sent;
            }
            waited = false;
            sent += static_cast<size_t>(got);
            if (static_cast<size_t>(got) == ready && ready < n) {
                Fail(EINVAL);  // the next datagram's address is not a dotted IPv4 address
                return sent;
            }
        }
        return sent;
    }

    // Sends what the handlers queued. A datagram the kernel refuses is reported to OnError and
    // skipped, as a send of its own would have failed alone.
    void FlushQueued() {
        if (flushing || queuedCount == 0) return;
        flushing = true;
        const std::shared_ptr<Life> token = life;
        size_t done = 0;
        while (done < queuedCount && fd >= 0) {
            done += SendSome(queued.data() + done, queuedCount - done);
            if (done < queuedCount) {
                ++done;
                if (owner->OnError) owner->OnError(SocketError(error));
                if (!token->alive) return;  // the handler destroyed the socket
            }
        }
        queuedCount = 0;
        flushing = false;
    }

    // One datagram's message header; the caller keeps the pieces alive.
    static void PrepareSend(const OutgoingDatagram& d, sockaddr_in& to, iovec& iov,
                            PktInfoControl& control, msghdr& msg, bool& ok) {
        PrepareSend(d.data, d.ip, d.port, d.fromLocalIp, to, iov, control, msg, ok);
    }
    static void PrepareSend(const std::string& data, const std::string& ip, uint16_t port,
                            const std::string& fromLocalIp, sockaddr_in& to, iovec& iov,
                            PktInfoControl& control, msghdr& msg, bool& ok) {
        std::memset(&msg, 0, sizeof msg);
        in_addr addr{};
        ok = ParseAddress(ip, addr, false);
        to = MakeSockaddr(addr, port);
        iov.iov_base = const_cast<char*>(data.data());
        iov.iov_len = data.size();
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        in_addr from{};
        if (!fromLocalIp.empty() && fromLocalIp != "0.0.0.0") {
            if (!ParseAddress(fromLocalIp, from, false)) {
                ok = false;
                return;
            }
            std::memset(&control, 0, sizeof control);
            msg.msg_control = control.buf;
            msg.msg_controllen = sizeof control.buf;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst = from;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
    }

    // Waits a little for room in the send buffer; a full buffer is brief on a healthy host.
    bool WaitWritable() const {
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, 20) == 1;
    }

    void OnReadable() {
        detail::DispatchScope scope;
        const std::shared_ptr<Life> token = life;
        const uint64_t generation = life->generation;
        const auto onData = owner->OnData;
        const auto onError = owner->OnError;
        if (buffer.empty()) buffer.resize(kDatagramBuffer * kRecvBatch);

        int budget = maxPerWakeup;
        while (budget > 0) {
            const int want = std::min(budget, kRecvBatch);
            mmsghdr msgs[kRecvBatch];
            iovec iovs[kRecvBatch];
            sockaddr_in from[kRecvBatch];
            PktInfoControl controls[kRecvBatch];
            std::memset(msgs, 0, sizeof msgs);
            for (int i = 0; i < want; ++i) {
                iovs[i].iov_base = buffer.data() + i * kDatagramBuffer;
                iovs[i].iov_len = kDatagramBuffer;
                msgs[i].msg_hdr.msg_name = &from[i];
                msgs[i].msg_hdr.msg_namelen = sizeof from[i];
                msgs[i].msg_hdr.msg_iov = &iovs[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
                msgs[i].msg_hdr.msg_control = controls[i].buf;
                msgs[i].msg_hdr.msg_controllen = sizeof controls[i].buf;
            }
            const int got =
                ::recvmmsg(fd, msgs, static_cast<unsigned>(want), MSG_DONTWAIT, nullptr);
            if (got < 0) {
                const int err = errno;
                if (err == EAGAIN || err == EWOULDBLOCK) return;
                if (err == EINTR) continue;
                Fail(err);
                if (onError) onError(SocketError(error));
                if (!token->alive || token->generation != generation) return;
                // The kernel hands out a pending error once; anything else would repeat.
                if (error.IsConnectionReset()) {
                    --budget;
                    continue;
                }
                return;
            }
            // Copy out first: a handler may pump events and read this socket again.
            if (batches.size() <= static_cast<size_t>(readDepth)) batches.resize(readDepth + 1);
            std::vector<Datagram> batch = std::move(batches[static_cast<size_t>(readDepth)]);
            batch.resize(static_cast<size_t>(got));
            for (int i = 0; i < got; ++i) {
                Datagram& d = batch[static_cast<size_t>(i)];
                d.data.assign(buffer.data() + i * kDatagramBuffer, msgs[i].msg_len);
                AssignAddressText(d.fromIp, from[i].sin_addr);
                d.fromPort = ntohs(from[i].sin_port);
                d.localIp.clear();
                d.destIp.clear();
                d.interfaceIndex = 0;
                for (cmsghdr* c = CMSG_FIRSTHDR(&msgs[i].msg_hdr); c != nullptr;
                     c = CMSG_NXTHDR(&msgs[i].msg_hdr, c)) {
                    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                        in_pktinfo info{};
                        std::memcpy(&info, CMSG_DATA(c), sizeof info);
                        AssignAddressText(d.localIp, info.ipi_spec_dst);
                        AssignAddressText(d.destIp, info.ipi_addr);
                        d.interfaceIndex = info.ipi_ifindex;
                    }
                }
                if (d.localIp.empty()) d.localIp = localIp;
                if (d.destIp.empty()) d.destIp = d.localIp;
            }
            ++readDepth;
            for (const Datagram& d : batch) {
                if (onData) onData(d);
                if (!token->alive) return;  // the socket is gone, and its pools with it
                if (token->generation != generation) {
                    --readDepth;
                    return;
                }
            }
            --readDepth;
            FlushQueued();
            if (!token->alive || token->generation != generation) return;
            batches[static_cast<size_t>(readDepth)] = std::move(batch);
            budget -= got;
            if (got < want) return;
        }
    }
};

UdpSocket::UdpSocket() : impl_(std::make_unique<Impl>(this)) {}

UdpSocket::~UdpSocket() {
    impl_->life->alive = false;
    impl_->Close();
}

bool UdpSocket::Bind(const std::string& ip, uint16_t port) {
    Impl& d = *impl_;
    d.Close();
    sockaddr_in sa{};
    int err = 0;
    d.fd = NewSocket(ip, port, SOCK_DGRAM, sa, err);
    if (d.fd < 0) {
        d.Fail(err);
        d.state = kStateError;
        return false;
    }
    // Past the system's cap when privileged; the capped size otherwise. Neither is fatal.
    if (!SetIntOption(d.fd, SOL_SOCKET, SO_RCVBUFFORCE, kUdpReceiveBuffer))
        SetIntOption(d.fd, SOL_SOCKET, SO_RCVBUF, kUdpReceiveBuffer);
    if (!SetIntOption(d.fd, IPPROTO_IP, IP_PKTINFO, 1) || !d.ApplyOptions() ||
        ::bind(d.fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        err = errno;
        d.Close();
        d.Fail(err);
        d.state = kStateError;
        return false;
    }
    LocalName(d.fd, d.localIp, d.localPort);
    d.notifier = new QSocketNotifier(d.fd, QSocketNotifier::Read);
    Impl* self = impl_.get();
    QObject::connect(d.notifier, &QSocketNotifier::activated, [self] { self->OnReadable(); });
    d.state = kStateOpen;
    d.error = {};
    return true;
}

void UdpSocket::Close() {
    impl_->Close();
}

bool UdpSocket::SendTo(const std::string& data, const std::string& ip, uint16_t port,
                       const std::string& fromLocalIp) {
    // SendBatch of one, without copying the datagram into a batch.
    Impl& d = *impl_;
    if (d.fd < 0) {
        d.Fail(ENOTCONN);
        return false;
    }
    msghdr msg;
    sockaddr_in to;
    iovec iov;
    PktInfoControl control;
    bool ok = false;
    Impl::PrepareSend(data, ip, port, fromLocalIp, to, iov, control, msg, ok);
    if (!ok) {
        d.Fail(EINVAL);
        return false;
    }
    if (d.batchSends && d.readDepth > 0) {
        if (d.queued.size() <= d.queuedCount) d.queued.resize(d.queuedCount + 1);
        OutgoingDatagram& q = d.queued[d.queuedCount++];
        q.data.assign(data);
        q.ip.assign(ip);
        q.port = port;
        q.fromLocalIp.assign(fromLocalIp);
        if (d.queuedCount >= static_cast<size_t>(kSendBatch)) d.FlushQueued();
        return true;
    }
    d.FlushQueued();  // what is queued goes first
    bool waited = false;
    while (true) {
        if (::sendmsg(d.fd, &msg, MSG_NOSIGNAL) >= 0) return true;
        const int err = errno;
        if (err == EINTR) continue;
        if ((err == EAGAIN || err == EWOULDBLOCK) && !waited && d.WaitWritable()) {
            waited = true;
            continue;
        }
        d.Fail(err);
        return false;
    }
}

size_t UdpSocket::SendBatch(const std::vector<OutgoingDatagram>& batch) {
    Impl& d = *impl_;
    if (d.fd < 0) {
        d.Fail(ENOTCONN);
        return 0;
    }
    d.FlushQueued();  // what is queued goes first
    return d.fd < 0 ? 0 : d.SendSome(batch.data(), batch.size());
}

void UdpSocket::SetSendBatching(bool on) {
    if (!on) impl_->FlushQueued();
    impl_->batchSends = on;
}

bool UdpSocket::SetBroadcast(bool on) {
    impl_->broadcast = on;
    if (impl_->fd < 0) return true;
    if (SetIntOption(impl_->fd, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0)) return true;
    impl_->Fail(errno);
    return false;
}

bool UdpSocket::SetReuseAddress(bool on) {
    impl_->reuseAddress = on;
    if (impl_->fd < 0) return true;
    if (SetIntOption(impl_->fd, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0)) return true;
    impl_->Fail(errno);
    return false;
}

bool UdpSocket::SetDevice(const std::string& interfaceName) {
    impl_->device = interfaceName;
    if (impl_->fd < 0) return true;
    if (::setsockopt(impl_->fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                     static_cast<socklen_t>(interfaceName.size())) == 0)
        return true;
    impl_->Fail(errno);
    return false;
}

void UdpSocket::SetMaxDatagramsPerWakeup(int count) {
    impl_->maxPerWakeup = std::max(1, count);
}

uint16_t UdpSocket::LocalPort() const {
    return impl_->localPort;
}
std::string UdpSocket::LocalIp() const {
    return impl_->localIp;
}
int UdpSocket::State() const {
    return impl_->state;
}
SocketError UdpSocket::LastError() const {
    return impl_->error;
}
bool UdpSocket::IsOpen() const {
    return impl_->fd >= 0;
}

// ---------------------------------------------------------------------------------------------
// TCP connection

struct TcpConnection::Impl {
    TcpConnection* owner;
    int fd = -1;
    int state = kStateClosed;
    SocketError error;
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;
    std::shared_ptr<Life> life = std::make_shared<Life>();
    std::string out;  // unsent bytes from outOffset on
    size_t outOffset = 0;
    size_t limit = 16u << 20;
    bool closeWhenSent = false;
    std::string bindIp;
    uint16_t bindPort = 0;
    std::string remoteIp, localIp;
    uint16_t remotePort = 0, localPort = 0;

    explicit Impl(TcpConnection* o) : owner(o) {}

    void Fail(int err) { error = SocketError::FromErrno(err); }
    size_t Pending() const { return out.size() - outOffset; }

    void DropNotifiers() {
        for (QSocketNotifier** n : {&reader, &writer}) {
            if (*n) {
                (*n)->setEnabled(false);
                detail::Dispose(*n);
                *n = nullptr;
            }
        }
    }

    void Close(int newState = kStateClosed) {
        ++life->generation;
        DropNotifiers();
        CloseFd(fd);
        out.clear();
        outOffset = 0;
        closeWhenSent = false;
        localPort = 0;
        localIp.clear();
        state = newState;
    }

    void Watch() {
        Impl* self = this;
        reader = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(reader, &QSocketNotifier::activated, [self] { self->OnReadable(); });
        writer = new QSocketNotifier(fd, QSocketNotifier::Write);
        QObject::connect(writer, &QSocketNotifier::activated, [self] { self->OnWritable(); });
    }

    void Names() {
        LocalName(fd, localIp, localPort);
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
            remoteIp = AddressText(sa.sin_addr);
            remotePort = ntohs(sa.sin_port);
        }
    }

    // Writes what the kernel takes; false after a failure (state 9, error set).
    bool Flush() {
        while (Pending() > 0) {
            const ssize_t n =
                ::send(fd, out.data() + outOffset, Pending(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                Fail(errno);
                return false;
            }
            outOffset += static_cast<size_t>(n);
        }
        if (Pending() == 0) {
            out.clear();
            outOffset = 0;
        } else if (outOffset > (1u << 20) && outOffset * 2 > out.size()) {
            out.erase(0, outOffset);  // keep the buffer from growing with what was sent
            outOffset = 0;
        }
        if (writer) writer->setEnabled(Pending() > 0);
        return true;
    }

    // A failure on an open connection: OnError, then OnClose.
    void Broken(const std::shared_ptr<Life>& token, uint64_t generation) {
        const auto onError = owner->OnError;
        const auto onClose = owner->OnClose;
        const SocketError e = error;
        Close(kStateError);
        error = e;
        if (onError) onError(e);
        if (!token->alive || token->generation != generation + 1) return;
        if (onClose) onClose();
    }

    void OnWritable() {
        detail::DispatchScope scope;
        const std::shared_ptr<Life> token = life;
        const uint64_t generation = life->generation;
        if (state == kStateConnecting) {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err != 0) {
                const auto onError = owner->OnError;
                Close(kStateError);
                Fail(err);
                if (onError) onError(SocketError(error));
                return;
            }
            state = kStateConnected;
            Names();
            writer->setEnabled(false);
            reader->setEnabled(true);
            const auto onConnect = owner->OnConnect;
            if (onConnect) onConnect();
            return;
        }
        if (!Flush()) {
            Broken(token, generation);
            return;
        }
        if (Pending() == 0 && closeWhenSent) Close();
    }

    void OnReadable() {
        detail::DispatchScope scope;
        const std::shared_ptr<Life> token = life;
        const uint64_t generation = life->generation;
        const auto onData = owner->OnData;
        for (int round = 0; round < kTcpChunksPerWakeup; ++round) {
            std::string chunk(kTcpChunk, '\0');
            const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                Fail(errno);
                Broken(token, generation);
                return;
            }
            if (n == 0) {
                // The peer closed its side; we may still write until Close().
                state = kStateClosing;
                if (reader) reader->setEnabled(false);
                const auto onClose = owner->OnClose;
                if (onClose) onClose();
                return;
            }
            chunk.resize(static_cast<size_t>(n));
            if (onData) onData(chunk);
            if (!token->alive || token->generation != generation) return;
            if (static_cast<size_t>(n) < kTcpChunk) return;
        }
    }
};

TcpConnection::TcpConnection() : impl_(std::make_unique<Impl>(this)) {}

TcpConnection::~TcpConnection() {
    impl_->life->alive = false;
    impl_->Close();
}

void TcpConnection::Adopt(int fd) {
    Impl& d = *impl_;
    d.Close();
    d.fd = fd;
    d.state = kStateConnected;
    d.error = {};
    d.Names();
    SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    d.Watch();
    d.writer->setEnabled(false);
}

void TcpConnection::SetLocalAddress(const std::string& ip, uint16_t port) {
    impl_->bindIp = ip;
    impl_->bindPort = port;
}

bool TcpConnection::Connect(const std::string& ip, uint16_t port) {
    Impl& d = *impl_;
    d.Close();
    in_addr addr{}, local{};
    if (!ParseAddress(ip, addr, false) || !ParseAddress(d.bindIp, local, true)) {
        d.Fail(EINVAL);
        d.state = kStateError;
        return false;
    }
    d.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.fd < 0) {
        d.Fail(errno);
        d.state = kStateError;
        return false;
    }
    d.remoteIp = AddressText(addr);
    d.remotePort = port;
    SetIntOption(d.fd, IPPROTO_TCP, TCP_NODELAY, 1);
    if (!d.bindIp.empty() || d.bindPort != 0) {
        const sockaddr_in la = MakeSockaddr(local, d.bindPort);
        if (::bind(d.fd, reinterpret_cast<const sockaddr*>(&la), sizeof la) != 0) {
            const int err = errno;
            d.Close(kStateError);
            d.Fail(err);
            return false;
        }
    }
    const sockaddr_in sa = MakeSockaddr(addr, port);
    if (::connect(d.fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
        errno != EINPROGRESS) {
        const int err = errno;
        d.Close(kStateError);
        d.Fail(err);
        return false;
    }
    // Finished or not, the outcome is reported from the loop when the socket turns writable.
    d.state = kStateConnecting;
    d.error = {};
    d.Watch();
    d.reader->setEnabled(false);
    return true;
}

bool TcpConnection::Send(const std::string& data) {
    Impl& d = *impl_;
    if (d.fd < 0 || (d.state != kStateConnected && d.state != kStateClosing)) {
        d.Fail(ENOTCONN);
        return false;
    }
    if (d.Pending() + data.size() > d.limit) {
        d.Fail(ENOBUFS);
        return false;
    }
    d.out.append(data);
    if (!d.Flush()) {
        // Reported to the caller; the reader still sees the reset or end and reports the close.
        d.state = kStateError;
        d.out.clear();
        d.outOffset = 0;
        if (d.writer) d.writer->setEnabled(false);
        return false;
    }
    return true;
}

void TcpConnection::Close() {
    impl_->Close();
}

void TcpConnection::CloseWhenSent() {
    if (impl_->Pending() == 0) {
        impl_->Close();
    } else {
        impl_->closeWhenSent = true;
    }
}

size_t TcpConnection::PendingSendBytes() const {
    return impl_->Pending();
}
void TcpConnection::SetSendBufferLimit(size_t bytes) {
    impl_->limit = bytes;
}

bool TcpConnection::SetKernelSendBuffer(int bytes) {
    if (impl_->fd < 0) return false;
    return SetIntOption(impl_->fd, SOL_SOCKET, SO_SNDBUF, bytes);
}

std::string TcpConnection::RemoteIp() const {
    return impl_->remoteIp;
}
uint16_t TcpConnection::RemotePort() const {
    return impl_->remotePort;
}
std::string TcpConnection::LocalIp() const {
    return impl_->localIp;
}
uint16_t TcpConnection::LocalPort() const {
    return impl_->localPort;
}
int TcpConnection::State() const {
    return impl_->state;
}
SocketError TcpConnection::LastError() const {
    return impl_->error;
}

// ---------------------------------------------------------------------------------------------
// TCP listener

struct TcpListener::Impl {
    TcpListener* owner;
    int fd = -1;
    int state = kStateClosed;
    SocketError error;
    QSocketNotifier* notifier = nullptr;
    QTimer* backoff = nullptr;  // pauses accepting while the process is out of descriptors
    std::shared_ptr<Life> life = std::make_shared<Life>();
    std::string localIp;
    uint16_t localPort = 0;

    explicit Impl(TcpListener* o) : owner(o) {}
    void Fail(int err) { error = SocketError::FromErrno(err); }

    void Close() {
        ++life->generation;
        if (notifier) {
            notifier->setEnabled(false);
            detail::Dispose(notifier);
            notifier = nullptr;
        }
        if (backoff) {
            backoff->stop();
            detail::Dispose(backoff);
            backoff = nullptr;
        }
        CloseFd(fd);
        state = kStateClosed;
        localIp.clear();
        localPort = 0;
    }

    void OnReadable() {
        detail::DispatchScope scope;
        const std::shared_ptr<Life> token = life;
        const uint64_t generation = life->generation;
        for (int i = 0; i < kAcceptsPerWakeup; ++i) {
            const int cfd = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (cfd < 0) {
                const int err = errno;
                if (err == EAGAIN || err == EWOULDBLOCK) return;
                if (err == EINTR || err == ECONNABORTED || err == EPROTO) continue;
                Fail(err);
                if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                    // The connection stays queued; try again shortly instead of spinning.
                    notifier->setEnabled(false);
                    if (!backoff) {
                        backoff = new QTimer;
                        backoff->setSingleShot(true);
                        Impl* self = this;
                        QObject::connect(backoff, &QTimer::timeout, [self] {
                            if (self->notifier) self->notifier->setEnabled(true);
                        });
                    }
                    backoff->start(100);
                }
                const auto onError = owner->OnError;
                if (onError) onError(SocketError(error));
                return;
            }
            auto conn = std::make_unique<TcpConnection>();
            conn->Adopt(cfd);
            const auto onRequest = owner->OnConnectionRequest;
            if (onRequest) onRequest(std::move(conn));
            conn.reset();
            if (!token->alive || token->generation != generation) return;
        }
    }
};

TcpListener::TcpListener() : impl_(std::make_unique<Impl>(this)) {}

TcpListener::~TcpListener() {
    impl_->life->alive = false;
    impl_->Close();
}

bool TcpListener::Bind(const std::string& ip, uint16_t port) {
    Impl& d = *impl_;
    d.Close();
    sockaddr_in sa{};
    int err = 0;
    d.fd = NewSocket(ip, port, SOCK_STREAM, sa, err);
    if (d.fd < 0) {
        d.Fail(err);
        d.state = kStateError;
        return false;
    }
    // Lets a restart bind while old connections linger in TIME_WAIT; a live listener still
    // makes the bind fail on Linux.
    SetIntOption(d.fd, SOL_SOCKET, SO_REUSEADDR, 1);
    if (::bind(d.fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        err = errno;
        d.Close();
        d.Fail(err);
        d.state = kStateError;
        return false;
    }
    LocalName(d.fd, d.localIp, d.localPort);
    d.state = kStateOpen;
    d.error = {};
    return true;
}

bool TcpListener::Listen(int backlog) {
    Impl& d = *impl_;
    if (d.fd < 0) {
        d.Fail(EBADF);
        return false;
    }
    if (d.state == kStateListening) return true;
    if (::listen(d.fd, backlog) != 0) {
        const int err = errno;
        d.Close();
        d.Fail(err);
        d.state = kStateError;
        return false;
    }
    d.notifier = new QSocketNotifier(d.fd, QSocketNotifier::Read);
    Impl* self = impl_.get();
    QObject::connect(d.notifier, &QSocketNotifier::activated, [self] { self->OnReadable(); });
    d.state = kStateListening;
    return true;
}

void TcpListener::Close() {
    impl_->Close();
}

uint16_t TcpListener::LocalPort() const {
    return impl_->localPort;
}
std::string TcpListener::LocalIp() const {
    return impl_->localIp;
}
int TcpListener::State() const {
    return impl_->state;
}
SocketError TcpListener::LastError() const {
    return impl_->error;
}

}  // namespace platform
