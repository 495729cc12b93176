// The connection array TCPcon: the listener's real sockets, the one-second timer, the limits and
// the resolver's way back to a connection. Kept apart from ctlZT so the request handling builds
// without the event loop (the fuzz target).
#include <algorithm>

#include "core/report.h"
#include "platform/sockets.h"
#include "platform/timer.h"
#include "server/replication/ctlZT.h"

namespace {

// A listener's connection as the transfer server sees it.
class TcpSocketAdapter : public IZTSocket {
  public:
    explicit TcpSocketAdapter(std::unique_ptr<platform::TcpConnection> c) : c_(std::move(c)) {}
    ~TcpSocketAdapter() override { Close(); }

    bool Send(const std::string& bytes, Failure& failure) override {
        if (c_->Send(bytes)) return true;
        const platform::SocketError e = c_->LastError();
        failure.number = e.number;
        failure.text = e.text;
        return false;
    }
    void Close() override {
        c_->OnData = nullptr;
        c_->OnClose = nullptr;
        c_->OnError = nullptr;
        c_->Close();
    }
    size_t PendingSendBytes() const override { return c_->PendingSendBytes(); }
    platform::TcpConnection& Connection() { return *c_; }

  private:
    std::unique_ptr<platform::TcpConnection> c_;
};

}  // namespace

clTcpConnections::clTcpConnections(ZTContext context) : ctx_(std::move(context)) {}

clTcpConnections::~clTcpConnections() {
    if (timer_) timer_->Stop();
    CloseAll();
}

void clTcpConnections::Take(std::unique_ptr<platform::TcpConnection> connection) {
    if (!connection) return;
    const std::string peer = connection->RemoteIp();
    connection->SetSendBufferLimit(kSendQueueLimit);
    auto adapter = std::make_unique<TcpSocketAdapter>(std::move(connection));
    platform::TcpConnection& c = adapter->Connection();
    ctlZT* con = Accept(std::move(adapter), peer);
    if (!con) return;
    c.OnData = [con](const std::string& bytes) { con->DataArrival(bytes); };
    c.OnClose = [con] { con->PeerClosed(); };
    c.OnError = [this, con](const platform::SocketError& e) {
        if (!e.IsConnectionReset() && ctx_.log) {
            ctx_.log(0, "ctlZT-WS Error " + std::to_string(e.number) + " " + e.text);
        }
        con->PeerClosed();
    };
    if (!timer_) {
        timer_ = std::make_unique<platform::Timer>(1000);
        timer_->OnTimeout = [this] { Tick(); };
        timer_->Start();
    }
}

size_t clTcpConnections::BusyCount() const {
    return static_cast<size_t>(
        std::count_if(cons_.begin(), cons_.end(), [](const auto& c) { return c && c->Busy; }));
}

ctlZT* clTcpConnections::Accept(std::unique_ptr<IZTSocket> socket, const std::string& peer) {
    try {
        if (!socket) return nullptr;
        if ((ctx_.isBlocked && ctx_.isBlocked(peer)) || BusyCount() >= kMaxConnections) {
            socket->Close();
            return nullptr;
        }
        ctlZT* con = nullptr;
        for (auto& c : cons_) {
            if (!c->Busy) {
                con = c.get();
                break;
            }
        }
        if (!con) {
            cons_.push_back(std::make_unique<ctlZT>(ctx_));
            con = cons_.back().get();
        }
        nextConId_ = nextConId_ >= INT32_MAX ? 1 : nextConId_ + 1;
        con->Accept(nextConId_, std::move(socket), peer);
        return con;
    } catch (...) {
        kest::ReportError("frmAlpha WSTCP ConnectionRequest");
        return nullptr;
    }
}

bool clTcpConnections::SendAnswer(int32_t connectionId, const std::string& message) {
    for (auto& c : cons_) {
        if (c->Busy && c->ConID == connectionId) return c->SendAnswer(message);
    }
    return false;
}

void clTcpConnections::Tick() {
    for (auto& c : cons_) {
        if (c->Busy) c->TimerTick();
    }
}

void clTcpConnections::CloseAll() {
    for (auto& c : cons_) {
        if (c->Busy) c->Close();
    }
}
