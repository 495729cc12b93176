#include "server/replication/ctlZTS.h"

#include "core/modDNS.h"
#include "core/report.h"

namespace modReplication {
namespace {

constexpr int kLogEvent = 0;
constexpr int kLogOutside = 2;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Header with the ID, both flag bytes 0, one question; then the question.
std::string Query(int32_t id, const std::string& zoneName, int32_t type) {
    std::string m = modDNS::MakeShortL(id);
    m += std::string("\0\0\0\x01\0\0\0\0\0\0", 10);
    m += modDNS::ZipName(m, Lower(zoneName));
    modDNS::AppendShortL(m, type);
    modDNS::AppendShortL(m, 1);
    return m;
}

std::string WsError(const char* where, const SocketFailure& f) {
    return std::string(where) + " " + std::to_string(f.number) + " " + f.text;
}

}  // namespace

ctlZTS::ctlZTS(IZtsNet& net, clReplicationIds& ids, const kest::IClock& clock, LogFn log,
               std::function<bool()> running, std::function<void(int icon)> doTray)
    : net_(net),
      ids_(ids),
      clock_(clock),
      log_(std::move(log)),
      running_(std::move(running)),
      doTray_(std::move(doTray)) {}

void ctlZTS::AddLine(int kind, std::string_view text) const {
    if (log_) log_(kind, text);
}

void ctlZTS::Que(const std::string& zoneName) {
    try {
        if (zoneName == CurName && State >= 1) return;
        if (queued_.insert(zoneName).second) queue_.push_back(zoneName);
        if (State == 0) ProcQ();
    } catch (...) {
        kest::ReportError("ctlZTS Que");
    }
}

void ctlZTS::TransferNext(const std::string& zoneName) {
    try {
        if (queued_.count(zoneName)) {
            for (auto it = queue_.begin(); it != queue_.end(); ++it) {
                if (*it == zoneName) {
                    queue_.erase(it);
                    break;
                }
            }
        }
        queue_.push_front(zoneName);
        queued_.insert(zoneName);
        transferNext_.insert(zoneName);
    } catch (...) {
        kest::ReportError("ctlZTS Que");
    }
}

void ctlZTS::ProcQ() {
    // A step that fails at once runs ProcQ again: do it here, not by recursion.
    if (inProcQ_) {
        procQAgain_ = true;
        return;
    }
    inProcQ_ = true;
    try {
        do {
            procQAgain_ = false;
            net_.StopTimer();
            // Paused: the queue keeps its entries, and the next start runs ProcQ again.
            if (running_ && !running_()) {
                State = 0;
                break;
            }
            bool found = false;
            while (!queue_.empty()) {
                std::string name = std::move(queue_.front());
                queue_.pop_front();
                queued_.erase(name);
                const std::string ip = zones_.primaryIP ? zones_.primaryIP(name) : std::string();
                if (ip.empty()) {
                    transferNext_.erase(name);
                    continue;
                }
                CurName = std::move(name);
                primary_ = ip;
                found = true;
                break;
            }
            if (!found) {
                State = 0;
                break;
            }
            const bool forced = transferNext_.erase(CurName) != 0;
            if (forced || (zones_.zoneExpired && zones_.zoneExpired(CurName))) {
                DoTransfer();
                continue;
            }
            SoaID = ids_.Next();
            const std::string query = Query(SoaID, CurName, modDNS::kTypeSOA);
            AddLine(kLogOutside,
                    "Sending request to " + primary_ + " for SOA-record for " + CurName);
            net_.StartTimer();
            State = 1;
            SocketFailure failure;
            if (!net_.SendUdp(query, primary_, failure)) {
                net_.StopTimer();
                AddLine(kLogEvent, WsError("ctlZTS ProcQ WS Error", failure));
                State = 0;
                procQAgain_ = true;
            }
        } while (procQAgain_);
    } catch (...) {
        kest::ReportError("ctlZTS ProcQ");
    }
    inProcQ_ = false;
}

void ctlZTS::DoTransfer() {
    try {
        net_.StartTimer();
        State = 2;
        sentMS_ = false;
        SocketFailure failure;
        if (!net_.Connect(primary_, failure)) {
            net_.Close();
            AddLine(kLogEvent, WsError("ctlZTS StartZT WS Error", failure));
            State = 0;
            ProcQ();
        }
    } catch (...) {
        kest::ReportError("ctlZTS DoTransfer");
    }
}

std::string ctlZTS::TransferRequest(bool severalPerMessage) const {
    std::string request = Query(SoaID, CurName, 252);
    if (severalPerMessage) request += "MS";
    return modDNS::MakeShortL(static_cast<int64_t>(request.size())) + request;
}

void ctlZTS::OnConnect() {
    try {
        if (State != 2) return;
        net_.StopTimer();
        reader_.Start(CurName, clock_.Now());
        transferStart_ = clock_.Now();
        SoaID = ids_.Next();
        sentMS_ = !AsksPlain(primary_);
        const std::string request = TransferRequest(sentMS_);
        AddLine(kLogOutside, "Sending Zone Transfer Request to " + primary_ + " for " + CurName);
        net_.StartTimer();
        State = 3;
        SocketFailure failure;
        if (!net_.Send(request, failure)) {
            net_.StopTimer();
            net_.Close();
            AddLine(kLogEvent, WsError("ctlZTS WSConnect WS Error", failure));
            State = 0;
            ProcQ();
        }
    } catch (...) {
        kest::ReportError("ctlZTS WSConnect");
    }
}

void ctlZTS::OnData(const std::string& bytes) {
    try {
        if (State != 3) return;
        net_.StopTimer();
        if (doTray_) doTray_(1);
        const auto status = reader_.Feed(bytes);
        if (sentMS_ && reader_.FirstRCode() == 1 && RetryPlain()) return;
        if (status == clTransferReader::Status::Complete) {
            Finish();
            return;
        }
        if (status == clTransferReader::Status::TooLarge ||
            (clock_.Now() - transferStart_) * 86400.0 > kTransferDeadlineSeconds) {
            Fail();
            return;
        }
        net_.StartTimer();
    } catch (...) {
        kest::ReportError("ctlZTS ProcAnswer");
    }
}

bool ctlZTS::RetryPlain() {
    if (!sentMS_) return false;
    plain_.insert(primary_);
    net_.Close();
    DoTransfer();
    return true;
}

void ctlZTS::Finish() {
    net_.Close();
    AddLine(kLogOutside, "Received Zone Transfer from " + primary_ + " for " + CurName);
    // State stays 3 while the zone is stored: notifications sent from there let events run,
    // and a zone queued meanwhile must wait for the ProcQ below.
    std::vector<RecordRef> records = reader_.TakeRecords();
    reader_.Start(std::string_view(), 0);
    if (zones_.gotZTransfer) zones_.gotZTransfer(CurName, std::move(records));
    ProcQ();
}

void ctlZTS::Fail() {
    net_.StopTimer();
    net_.Close();
    AddLine(kLogOutside, "Failed to receive Zone Transfer from " + primary_ + " for " + CurName);
    reader_.Start(std::string_view(), 0);
    State = 0;
    ProcQ();
}

void ctlZTS::OnClose() {
    try {
        if (State == 3) {
            if (reader_.IsComplete()) return;
            // Closed without a message after "MS": a primary that does not know the form.
            if (reader_.Messages() == 0 && RetryPlain()) return;
            Fail();
        } else if (State == 2) {
            Fail();
        }
    } catch (...) {
        kest::ReportError("ctlZTS Timer");
    }
}

void ctlZTS::OnError(const SocketFailure& failure, bool connectionReset) {
    try {
        if (State == 2) {
            net_.StopTimer();
            net_.Close();
            AddLine(kLogEvent, WsError("ctlZTS StartZT WS Error", failure));
            State = 0;
            ProcQ();
        } else if (State == 3 && !connectionReset) {
            AddLine(kLogEvent, WsError("ctlZTS WS-DataArrival", failure));
        }
    } catch (...) {
        kest::ReportError("ctlZTS WS-DataArrival");
    }
}

void ctlZTS::OnTimer() {
    try {
        net_.StopTimer();
        if (State == 2 || State == 3) {
            net_.Close();
            AddLine(kLogOutside,
                    "Failed to receive Zone Transfer from " + primary_ + " for " + CurName);
            reader_.Start(std::string_view(), 0);
        }
        State = 0;
        ProcQ();
    } catch (...) {
        kest::ReportError("ctlZTS Timer");
    }
}

bool ctlZTS::ExpectsReply(const clDNSAnswer& answer, const std::string& ip) const {
    if (State != 1 || answer.Id != SoaID || ip != primary_ || answer.Section2.empty()) return false;
    const RecordRef& first = answer.Section2.front();
    return first && first->RecType == modDNS::kTypeSOA && first->Name == Lower(CurName);
}

void ctlZTS::TakeReply(const clDNSAnswer& answer) {
    try {
        if (answer.Section2.empty() || !answer.Section2.front()) return;
        const auto soa = modDNS::ParseSOAData(answer.Section2.front()->Data);
        if (!soa) return;
        if (zones_.gotSOA) zones_.gotSOA(soa->serial);
    } catch (...) {
        kest::ReportError("ctlZTS GotSOA");
    }
}

}  // namespace modReplication
