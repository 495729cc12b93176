#include "server/replication/ctlZT.h"

#include <algorithm>

#include "core/modDNS.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"

namespace {

constexpr int32_t kTypeAXFR = 252;

bool ResolverType(int32_t qtype) {
    switch (qtype) {
        case modDNS::kTypeA:
        case modDNS::kTypeNS:
        case modDNS::kTypeCNAME:
        case modDNS::kTypeSOA:
        case modDNS::kTypePTR:
        case modDNS::kTypeMX:
        case modDNS::kTypeTXT:
        case modDNS::kTypeSRV:
        case modDNS::kTypeANY:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- One connection -----------------------------------------------------------------------------

void ctlZT::Log(std::string_view text) const {
    if (ctx_.log) ctx_.log(0, text);
}

void ctlZT::Accept(int32_t conId, std::unique_ptr<IZTSocket> socket, const std::string& peer) {
    ConID = conId;
    buffer_.clear();
    peer_ = peer;
    Busy = true;
    countdown_ = kIdle;
    lastPending_ = 0;
    stalled_ = 0;
    socket_ = std::move(socket);
}

void ctlZT::Close() {
    Busy = false;
    countdown_ = 0;
    // The socket may be the one whose event is running: it is closed first, freed after.
    std::unique_ptr<IZTSocket> socket = std::move(socket_);
    if (socket) socket->Close();
}

void ctlZT::PeerClosed() {
    Close();
}

bool ctlZT::SendFramed(const std::string& message) {
    if (!socket_) return false;
    const std::string framed = modZT::Framed(message);
    if (framed.empty()) return false;
    IZTSocket::Failure failure;
    const bool sent = socket_->Send(framed, failure);
    if (ctx_.doTray) ctx_.doTray(1);
    if (!sent) Log("ctlZT-WS Error " + std::to_string(failure.number) + " " + failure.text);
    return sent;
}

bool ctlZT::SendAnswer(const std::string& message) {
    try {
        if (!Busy) return false;
        countdown_ = kIdle;
        return SendFramed(message);
    } catch (...) {
        kest::ReportError("ctlZT SendAnswer");
        return false;
    }
}

void ctlZT::DataArrival(const std::string& bytes) {
    try {
        if (!Busy) return;
        buffer_ += bytes;
        countdown_ = kIdle;
        if (ctx_.doTray) ctx_.doTray(1);
        const int32_t me = ConID;
        while (buffer_.size() >= 2) {
            const size_t length =
                (static_cast<size_t>(static_cast<unsigned char>(buffer_[0])) << 8) |
                static_cast<unsigned char>(buffer_[1]);
            if (length > modZT::kMaxTcpRequest) {
                // Not a DNS request; the peer can repeat it at will, so it is only logged.
                Log("ctlZT DataArrival: message of" + std::string(" ") + std::to_string(length) +
                    " bytes from " + peer_ + " (TCP) - connection closed");
                Close();
                return;
            }
            if (buffer_.size() < length + 2) return;
            const std::string message = buffer_.substr(2, length);
            buffer_.erase(0, length + 2);
            if (length > 12) ProcReq(message);
            // The request may have closed this connection, or a pump let another take it over.
            if (!Busy || ConID != me) return;
        }
    } catch (...) {
        kest::ReportError("ctlZT DataArrival");
    }
}

void ctlZT::ProcReq(const std::string& data) {
    try {
        const std::string_view message(data);
        const auto flags = static_cast<unsigned char>(message[2]);
        if ((flags & 0x80) != 0) return;
        if (ctx_.countRequest) ctx_.countRequest();

        const int32_t id =
            (static_cast<unsigned char>(message[0]) << 8) | static_cast<unsigned char>(message[1]);
        std::string_view counts = message.substr(4);
        if (modDNS::ExtractShort(counts, false) == 0 || message.size() < 13) {
            Log("Incomplete DNS Request from " + peer_ + " (TCP)");
            return;
        }
        const int opcode = (flags & 0x78) / 8;
        const bool rd = (flags & 0x01) != 0;
        if (opcode != 0 && opcode != 4) {
            const std::string what = modDNS::OpCodeN(opcode);
            Log(what + " from " + peer_ + " (TCP)");
            NotImplemented(data, what);
            return;
        }

        std::string_view rest = message.substr(12);
        const std::string name = modDNS::ExtractName(message, rest, true);
        if (rest.size() < 4 || !modDNS::CanZipName(name)) {
            Log("Incomplete DNS Request from " + peer_ + " (TCP)");
            return;
        }
        const int32_t qtype = modDNS::ExtractShortL(rest, true);
        const int32_t qclass = modDNS::ExtractShortL(rest, true);

        if (qclass != 1) {
            const std::string what = modDNS::ClassN(qclass);
            Log("DNS Request from " + peer_ + " for " + what + " (TCP)");
            NotImplemented(data, what);
            return;
        }

        if (opcode == 4) {
            // A NOTIFY on a connection (some primaries send them only this way); the answer comes
            // back through SendAnswer with the negative connection number as port.
            if (qtype == modDNS::kTypeSOA) {
                Log("Zone Update Notification from " + peer_ + " about " + name);
                if (ctx_.zones) ctx_.zones->ProcNotify(peer_, -ConID, name, data);
            }
            return;
        }

        if (ResolverType(qtype)) {
            Log("Request from " + peer_ + " for " + modDNS::RTypeN(qtype) + "-record for " + name +
                " (TCP)");
            countdown_ = kIdleWorking;
            if (ctx_.createRequest) ctx_.createRequest(id, rd, name, qtype, peer_, -ConID);
            return;
        }
        if (qtype == kTypeAXFR) {
            Log("Zone Transfer Request from " + peer_ + " for " + name);
            countdown_ = kIdleWorking;
            const bool several = rest == "MS";
            modZT::TransferHooks hooks;
            hooks.log = ctx_.log;
            hooks.activity = [this] {
                if (ctx_.doTray) ctx_.doTray(1);
            };
            if (ctx_.zones && socket_ &&
                !modZT::ZoneTransfer(*ctx_.zones, hooks, id, rd, name, several, peer_, *socket_)) {
                // Half a transfer is of no use to the peer.
                Close();
            }
            return;
        }
        const std::string what = modDNS::RTypeN(qtype) + "-record for " + name;
        Log("Request from " + peer_ + " for " + what + " (TCP)");
        NotImplemented(data, what);
    } catch (...) {
        kest::ReportError("ctlZT ProcReq");
    }
}

void ctlZT::NotImplemented(const std::string& message, const std::string& description) {
    Log("Sending answer to " + peer_ + " about " + description);
    Log("-> Header: Not implemented.");
    std::string reply = message;
    reply[2] = static_cast<char>(static_cast<unsigned char>(reply[2]) | 0x80);
    reply[3] = static_cast<char>(4);
    SendFramed(reply);
}

void ctlZT::TimerTick() {
    try {
        if (!Busy) return;
        if (--countdown_ <= 0) {
            Close();
            return;
        }
        const size_t pending = socket_ ? socket_->PendingSendBytes() : 0;
        if (pending > 0 && pending >= lastPending_) {
            if (++stalled_ >= kStallSeconds) {
                Log("Closing TCP connection of " + peer_ + ": the peer stopped reading");
                Close();
                return;
            }
        } else {
            stalled_ = 0;
        }
        lastPending_ = pending;
    } catch (...) {
        kest::ReportError("ctlZT Timer");
    }
}
