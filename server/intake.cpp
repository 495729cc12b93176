#include "server/intake.h"

#include <algorithm>
#include <cstdio>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "platform/files.h"
#include "platform/sockets.h"  // the Datagram only
#include "server/authority/clDNSAuthData.h"
#include "server/resolver/clDNSCache.h"

namespace modMain {
namespace {

constexpr int32_t kMaxRunCount = 32767;  // RunCount is 16-bit; it saturates
constexpr int64_t kRunWindowMs = 1000;
constexpr int32_t kMaxKey = 999999;

bool SupportedType(int32_t qtype) {
    switch (qtype) {
        case 1:    // A
        case 2:    // NS
        case 5:    // CNAME
        case 6:    // SOA
        case 12:   // PTR
        case 15:   // MX
        case 16:   // TXT
        case 33:   // SRV
        case 255:  // *
            return true;
        default:
            return false;
    }
}

std::string Blanked(int64_t n) {
    return (n >= 0 ? " " : "") + std::to_string(n);
}

}  // namespace

// ---- The log as the resolver sees it ------------------------------------------------------------

class RequestIntake::LogAdapter : public IRequestLog {
  public:
    explicit LogAdapter(ActivityLog* log) : log_(log) {}
    void AddLine(int kind, std::string_view text) override {
        if (log_) log_->AddLine(kind, text);
    }
    bool Wanted(int kind) const override { return log_ && log_->Wanted(kind); }

  private:
    ActivityLog* log_;
};

RequestIntake::RequestIntake(IntakeContext context)
    : ctx_(std::move(context)), logAdapter_(std::make_unique<LogAdapter>(ctx_.log)) {
    resolver_.settings = ctx_.settings;
    resolver_.clock = ctx_.clock;
    resolver_.localIPs = ctx_.localIPs;
    resolver_.zones = ctx_.zones;
    resolver_.cache = ctx_.cache;
    resolver_.log = logAdapter_.get();
    resolver_.sender = ctx_.sender;
    resolver_.tcp = ctx_.tcp;
    resolver_.doTray = ctx_.doTray;
    resolver_.outstanding = &outstanding_;
    resolver_.createRequest = [this](int32_t id, bool rd, const std::string& name, int32_t type,
                                     const std::string& ip, int32_t port, int16_t level) {
        CreateRequest(id, rd, name, type, ip, port, level);
    };
}

RequestIntake::~RequestIntake() = default;

bool RequestIntake::Running() const {
    return !ctx_.running || ctx_.running();
}

// ---- Datagram arrival ---------------------------------------------------------------------------

void RequestIntake::OnDatagram(const platform::Datagram& datagram) {
    try {
        const std::string& data = datagram.data;
        if (!Running() || data.size() < 12) return;
        const std::string& ip = datagram.fromIp;
        if (ctx_.doTray) ctx_.doTray(1);

        if (IsBlocked(ip)) {
            if (ctx_.settings->LogBlock && ctx_.log) {
                ctx_.log->AddLine(kLogEvent, "Request from " + ip + " on Block list. Ignored!");
            }
            return;
        }
        // Replies never count towards a flood, so a busy upstream server is not blocked.
        if ((static_cast<unsigned char>(data[2]) & 0x80) != 0) {
            ProcDNSAnswer(ip, data);
            return;
        }

        if (ctx_.settings->BombLevel > 0 && !FloodCheck(ip)) return;
        ProcDNSRequest(ip, datagram.fromPort, data, datagram.localIp);
    } catch (...) {
        kest::ReportError("frmAlpha WSDNS");
    }
}

bool RequestIntake::FloodCheck(const std::string& ip) {
    const int64_t now = ctx_.clock->MonotonicMs();
    if (ip != lastIP_) {
        lastIP_ = ip;
        runCount_ = 1;
        runStartMs_ = now;
        return true;
    }
    if (runCount_ < kMaxRunCount) ++runCount_;
    const int32_t level = ctx_.settings->BombLevel;
    if (runCount_ <= level) return true;
    if (now - runStartMs_ > kRunWindowMs) {
        runCount_ = 1;
        runStartMs_ = now;
        return true;
    }
    const auto& noBlock = ctx_.settings->NoBlock;
    if (std::find(noBlock.begin(), noBlock.end(), ip) != noBlock.end()) return true;
    if (ctx_.log) {
        ctx_.log->AddLine(kLogEvent, "IP address " + ip + " blocked (more than" + Blanked(level) +
                                         " Requests per second)");
    }
    blocks_.push_back(ip);
    blockSet_.insert(ip);
    blocksChanged_ = true;
    return false;
}

// ---- Queries ------------------------------------------------------------------------------------

void RequestIntake::CountRequest() {
    if (ctx_.totalRequests) *ctx_.totalRequests += 1;
    if (ctx_.secondCounts) kest::CountInSecondRing(*ctx_.secondCounts, ctx_.clock->LocalNow());
}

void RequestIntake::ProcDNSRequest(const std::string& ip, int32_t port, const std::string& data,
                                   const std::string& localIp) {
    try {
        CountRequest();
        if (ctx_.pump) ctx_.pump->Pump();
        // A pause inside the pump closed the socket and forgot the waiting jobs.
        if (!Running()) return;

        ActivityLog* log = ctx_.log;
        const bool logOn = log && log->Wanted(kLogEvent);
        const std::string_view message(data);

        std::string_view counts = message.size() > 4 ? message.substr(4) : std::string_view();
        if (modDNS::ExtractShort(counts, false) == 0 || message.size() < 13) {
            if (logOn) log->AddLine(kLogEvent, "Incomplete DNS Request from " + ip);
            return;
        }

        const auto flags = static_cast<unsigned char>(message[2]);
        const int opcode = (flags & 0x78) / 8;
        if (opcode != 0 && opcode != 4) {
            std::string description;
            if (logOn) {
                description = modDNS::OpCodeN(opcode);
                log->AddLine(kLogEvent, description + " from " + ip);
            }
            NotImplemented(ip, port, data, localIp, description);
            return;
        }

        const int32_t id =
            (static_cast<unsigned char>(message[0]) << 8) | static_cast<unsigned char>(message[1]);
        const bool rd = (flags & 0x01) != 0;

        std::string_view rest = message.substr(12);
        const std::string name = modDNS::ExtractName(message, rest, true);
        // A name no reply could carry (a label over 63 bytes) is as malformed as a short one.
        if (rest.size() < 4 || !modDNS::CanZipName(name)) {
            if (logOn) log->AddLine(kLogEvent, "Incomplete DNS Request from " + ip);
            return;
        }
        const int32_t qtype = modDNS::ExtractShortL(rest, true);
        const int32_t qclass = modDNS::ExtractShortL(rest, true);

        if (qclass != 1) {
            std::string description;
            if (logOn) {
                description = modDNS::ClassN(qclass);
                log->AddLine(kLogEvent, "DNS Request from " + ip + " for " + description);
            }
            NotImplemented(ip, port, data, localIp, description);
            return;
        }

        if (opcode == 4) {
            if (qtype == modDNS::kTypeSOA) {
                if (logOn) {
                    log->AddLine(kLogEvent,
                                 "Zone Update Notification from " + ip + " about " + name);
                }
                if (ctx_.zones) ctx_.zones->ProcNotify(ip, port, name, data);
            }
            return;
        }

        std::string description;
        if (logOn) {
            description = modDNS::RTypeN(qtype) + "-record for " + name;
            if (log->WindowOpen() || ctx_.settings->WriteLog) {
                log->AddLine(kLogEvent, "Request from " + ip + " for " + description);
            }
        }
        if (SupportedType(qtype)) {
            CreateRequest(id, rd, name, qtype, ip, port, 0, localIp);
            return;
        }
        NotImplemented(ip, port, data, localIp, description);
    } catch (...) {
        kest::ReportError("modDNS ProcDNSRequest");
    }
}

void RequestIntake::NotImplemented(const std::string& ip, int32_t port, const std::string& data,
                                   const std::string& localIp, const std::string& description) {
    ActivityLog* log = ctx_.log;
    if (log && log->Wanted(kLogEvent)) {
        log->AddLine(kLogEvent, "Sending answer to " + ip + " about " + description);
        log->AddLine(kLogEvent, "-> Header: Not implemented.");
    }
    reply_.assign(data);
    reply_[2] = static_cast<char>(static_cast<unsigned char>(reply_[2]) | 0x80);
    reply_[3] = static_cast<char>(0x84);
    if (!ctx_.sender) return;
    IDatagramSender::Failure failure;
    const bool sent =
        ctx_.sender->SendTo(reply_, ip, static_cast<uint16_t>(port), localIp, failure);
    if (ctx_.doTray) ctx_.doTray(1);
    if (!sent && log) {
        log->AddLine(kLogEvent, "PRCREQ-WS Error" + Blanked(failure.number) + " " + failure.text);
    }
}

void RequestIntake::CreateRequest(int32_t id, bool rd, const std::string& name, int32_t qtype,
                                  const std::string& ip, int32_t port, int16_t level,
                                  const std::string& localIp) {
    try {
        const auto makeJob = [&] {
            auto job = std::make_shared<clDNSRequest>(resolver_);
            job->RequestID = id;
            job->RequestRD = rd;
            job->RequestName = name;
            job->RequestType = qtype;
            job->RequestIP = ip;
            job->RequestPort = port;
            job->Level = level;
            job->RequestLocalIP = localIp;
            return job;
        };
        if (level == 0) {
            static const std::vector<std::string> kNone;
            const bool permission = clDNSRequest::Permission(
                *ctx_.settings, ctx_.localIPs ? *ctx_.localIPs : kNone, ip, level);
            auto& items = outstanding_.Items();
            RequestRef waiting;
            for (size_t i = 0; i < items.size();) {
                const RequestRef& e = items[i];
                if (!e || e->State == 9) {
                    items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
                    continue;
                }
                // A tagged client gets the other's reply, so it must have the same permission.
                if (rd && e->RequestName == name && e->RequestType == qtype &&
                    e->Recursion == permission) {
                    waiting = e;
                    break;
                }
                ++i;
            }
            if (!waiting && items.size() > kMaxOutstanding) return;
            if (waiting) {
                auto job = makeJob();
                job->Recursion = permission;
                waiting->TagRequests.push_back(std::move(job));
                return;
            }
        }

        auto job = makeJob();
        if (rd) {
            // A key still in use would lead a sub-request's answer to the wrong request.
            char key[16];
            for (size_t tries = 0; tries <= outstanding_.Size(); ++tries) {
                keyCounter_ = keyCounter_ >= kMaxKey ? 0 : keyCounter_ + 1;
                std::snprintf(key, sizeof key, "%07dK", static_cast<int>(keyCounter_));
                if (!outstanding_.Find(key)) break;
            }
            job->RequestKey = key;
            outstanding_.Append(job);
        }
        job->ProcRequest();
    } catch (...) {
        kest::ReportError("modDNS CreateRequest");
    }
}

// ---- Replies ------------------------------------------------------------------------------------

namespace {

// Logs the records of a reply (kind 3) as they are decoded.
class RecordLogger : public modDNS::DecodeObserver {
  public:
    explicit RecordLogger(ActivityLog* log) : log_(log) {}
    void OnRecord(int secNo, const clDNSRecord& record, bool) override {
        std::string line = "-> ";
        line += modDNS::SectionName(secNo);
        line += ": ";
        line += modDNS::RecordText(record);
        log_->AddLine(kLogRecord, line);
    }

  private:
    ActivityLog* log_;
};

}  // namespace

RequestRef RequestIntake::MatchReply(const clDNSAnswer& answer, const std::string& ip) const {
    for (const RequestRef& r : outstanding_.Items()) {
        if (!r || r->State != 1) continue;
        for (const clDNSRequestOut& q : r->OpenRqOut) {
            if (q.Id == answer.Id && q.IP == ip && q.Type == answer.RqType &&
                q.Name == answer.RqName) {
                return r;
            }
        }
    }
    return nullptr;
}

void RequestIntake::ProcDNSAnswer(const std::string& ip, const std::string& data) {
    try {
        if (ctx_.pump) ctx_.pump->Pump();
        if (!Running()) return;
        if (data.size() < 12) return;
        ActivityLog* log = ctx_.log;
        const bool logOn = log && log->Wanted(kLogOutside);
        const auto flags1 = static_cast<unsigned char>(data[2]);
        const int opcode = (flags1 & 0x78) / 8;
        const int rcode = static_cast<unsigned char>(data[3]) & 0x0F;

        if (opcode == 4) {
            if (logOn) {
                if (rcode != 0) {
                    log->AddLine(kLogOutside, "Reply from " + ip + " about Notification:");
                    log->AddLine(kLogOutside, "-> Header: " + modDNS::RCodeN(rcode));
                } else {
                    log->AddLine(kLogOutside, "Notification Acknowledgement from " + ip);
                }
            }
            return;
        }
        if (opcode != 0) {
            if (logOn) {
                log->AddLine(kLogOutside, "Reply from " + ip + " about " + modDNS::OpCodeN(opcode) +
                                              ": Ignored - No matching requests.");
            }
            return;
        }

        // Decoding may not run twice at once (a handler inside the pump of another): the
        // reused answer is taken only when free.
        clDNSAnswer local;
        clDNSAnswer& answer = answerBusy_ ? local : answer_;
        struct Busy {
            bool& flag;
            bool was;
            ~Busy() { flag = was; }
        } busy{answerBusy_, answerBusy_};
        answerBusy_ = true;
        answer.RqName.clear();
        answer.RqType = 0;
        answer.RA = false;
        answer.Section2.clear();
        answer.Section3.clear();
        answer.Section4.clear();

        if (logOn) {
            // The question's line comes before the records' lines: read it first.
            std::string_view counts = std::string_view(data).substr(4);
            const int qd = modDNS::ExtractShort(counts, true);
            const int an = modDNS::ExtractShort(counts, true);
            if (qd < 1) {
                log->AddLine(kLogOutside, "Reply from " + ip + ":");
            } else {
                std::string_view rest = std::string_view(data).substr(12);
                const std::string name = modDNS::ExtractName(data, rest, true);
                if (rest.size() < 4) {
                    log->AddLine(kLogOutside, "Reply from " + ip + ":");
                } else {
                    const int32_t type = modDNS::ExtractShortL(rest, false);
                    log->AddLine(kLogOutside, "Reply from " + ip + " about " +
                                                  modDNS::RTypeN(type) + "-record for " + name +
                                                  ":");
                }
            }
            if (rcode > 0) {
                log->AddLine(kLogOutside, "-> Header: " + modDNS::RCodeN(rcode));
            } else if (an == 0 && ((flags1 & 0x04) != 0 || ctx_.settings->RecursionOut)) {
                log->AddLine(kLogOutside, "-> Answer: No Matching Records exist!");
            }
        }
        RecordLogger logger(log);
        const bool logRecords = log && log->Wanted(kLogRecord);
        const bool complete =
            modDNS::DecodeReply(data, answer, ctx_.clock->Now(), logRecords ? &logger : nullptr);
        if (!complete) {
            answer.TC = true;
            if (logOn) log->AddLine(kLogOutside, "-> Incomplete...");
        }

        // Only a reply to a query of ours, from where it went, about what it asked, is taken.
        const RequestRef job = MatchReply(answer, ip);
        if (job) {
            if (complete && !ctx_.settings->SpoofSecure && ctx_.cache) ctx_.cache->CacheAdd(answer);
            job->ProcAnswer(answer);
            return;
        }
        if (ctx_.soaClient && ctx_.soaClient->ExpectsReply(answer, ip)) {
            if (complete && !ctx_.settings->SpoofSecure && ctx_.cache) ctx_.cache->CacheAdd(answer);
            ctx_.soaClient->TakeReply(answer);
        }
        // Anything else is dropped unseen by the cache.
    } catch (...) {
        kest::ReportError("modDNS ProcDNSAnswer");
    }
}

void RequestIntake::TimeOuts() {
    // A retry may send, start sub-requests and change the list: walk a copy.
    const std::vector<RequestRef> waiting = outstanding_.Items();
    for (const RequestRef& r : waiting) {
        if (r) r->TimeTick();
    }
}

// ---- Block list ---------------------------------------------------------------------------------

bool RequestIntake::IsBlocked(std::string_view ip) const {
    return !blockSet_.empty() && blockSet_.find(ip) != blockSet_.end();
}

void RequestIntake::SetBlocks(std::vector<std::string> blocks) {
    blocks_ = std::move(blocks);
    blockSet_.clear();
    blockSet_.insert(blocks_.begin(), blocks_.end());
    blocksChanged_ = true;
}

std::filesystem::path RequestIntake::BlocksFile() const {
    return ctx_.programDir / kBlocksFileName;
}

void RequestIntake::LoadBlocks() {
    try {
        const std::optional<std::string> text = platform::ReadFile(BlocksFile());
        if (!text) return;
        for (const std::string& raw : platform::SplitLines(*text)) {
            const size_t from = raw.find_first_not_of(" \t");
            const std::string_view line =
                from == std::string::npos ? std::string_view() : std::string_view(raw).substr(from);
            if (!line.empty() && line.front() == ';') continue;
            std::string ip = modIP::CleanIP(line);
            blockSet_.insert(ip);
            blocks_.push_back(std::move(ip));
        }
    } catch (...) {
        kest::ReportError("modDNS LoadBlocks");
    }
}

bool RequestIntake::SaveBlocks() {
    try {
        std::string content = kBlocksHeader;
        content += "\r\n";
        for (const std::string& ip : blocks_) {
            content += ip;
            content += "\r\n";
        }
        platform::WriteFileAtomic(BlocksFile(), content);
        blocksChanged_ = false;
        return true;
    } catch (...) {
        kest::ReportError("modDNS SaveBlocks");
        return false;
    }
}

void RequestIntake::SaveBlocksIfChanged() {
    if (blocksChanged_) SaveBlocks();
}

}  // namespace modMain
