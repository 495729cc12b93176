// The whole path of a DNS datagram: arrival (block list, flood check), the checks of a query,
// the not-implemented reply, CreateRequest with tagging, the request object against a zone store
// and a cache filled in memory, and the reply builder. Every datagram sent must be a complete
// reply to the query that caused it.
//
// Input: a series of datagrams, each a control byte (bits 0-1: which of four senders; bit 2: one
// second passes first; bit 3: a job is left waiting for this question) and a 16-bit length,
// then that many bytes. The first byte of the input sets the options (AutoCNAME, recursion,
// BombLevel, logging).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "fuzz/fuzz_check.h"
#include "platform/host.h"
#include "platform/sockets.h"
#include "server/activity_log.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/intake.h"
#include "server/resolver/clDNSCache.h"
#include "server/settings.h"

namespace {

using namespace modDNS;

class StepClock : public kest::IClock {
  public:
    double Now() const override { return now; }
    double ToLocal(double utcDays) const override { return utcDays; }
    int64_t MonotonicMs() const override { return mono; }
    double now = 46000.5;
    int64_t mono = 1'000'000;
};

class NoPump : public platform::IEventPump {
  public:
    void Pump() override {}
};

struct Sent {
    std::string data, ip;
    uint16_t port;
};

class Sender : public IDatagramSender {
  public:
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port, const std::string&,
                Failure& failure) override {
        sent.push_back({data, ip, port});
        if (failEvery != 0 && sent.size() % failEvery == 0) {
            failure = {90, "Message too long"};
            return false;
        }
        return true;
    }
    std::vector<Sent> sent;
    size_t failEvery = 0;
};

class Tcp : public ITcpAnswerSink {
  public:
    bool SendAnswer(int32_t, const std::string& message) override {
        FUZZ_CHECK(message.size() >= 12);
        return true;
    }
};

RecordRef Rec(double now, const std::string& name, int32_t type, const std::string& data,
              bool permanent = true, int32_t ttl = 3600) {
    return MakeRecord(name, type, data, ttl, now, permanent);
}

void FillZones(clDNSAuthData& store, double now) {
    auto z = std::make_shared<clZone>();
    z->Name = "example.com.";
    const std::string soa =
        MakeSOAData({"ns1.example.com.", "hm.example.com.", 7, 3600, 600, 86400, 300});
    const auto a = [](const char* ip) { return modIP::IPToData(ip); };
    for (const RecordRef& r : {
             Rec(now, "example.com.", kTypeSOA, soa),
             Rec(now, "example.com.", kTypeNS, "ns1.example.com."),
             Rec(now, "example.com.", kTypeNS, "ns.elsewhere.net."),
             Rec(now, "example.com.", kTypeMX, MakeShortL(10) + "mail.example.com."),
             Rec(now, "example.com.", kTypeTXT, std::string("\x05hello\x00", 7)),
             Rec(now, "ns1.example.com.", kTypeA, a("10.0.0.2")),
             Rec(now, "mail.example.com.", kTypeA, a("10.0.0.5")),
             Rec(now, "www.example.com.", kTypeA, a("10.0.0.1")),
             Rec(now, "www.example.com.", kTypeA, a("10.0.0.3")),
             Rec(now, "www.example.com.", kTypeA, a("10.0.0.4")),
             Rec(now, "alias.example.com.", kTypeCNAME, "www.example.com."),
             Rec(now, "out.example.com.", kTypeCNAME, "host.remote.net."),
             Rec(now, "loop1.example.com.", kTypeCNAME, "loop2.example.com."),
             Rec(now, "loop2.example.com.", kTypeCNAME, "loop1.example.com."),
             Rec(now, "self.example.com.", kTypeCNAME, "self.example.com."),
             Rec(now, "*.wild.example.com.", kTypeA, a("10.0.9.9")),
             Rec(now, "*.wild.example.com.", kTypeCNAME, "www.example.com."),
             Rec(now, "_sip._udp.example.com.", kTypeSRV,
                 MakeShortL(1) + MakeShortL(2) + MakeShortL(5060) + "www.example.com."),
             Rec(now, "sub.example.com.", kTypeNS, "ns.sub.example.com."),
             Rec(now, "sub.example.com.", kTypeNS, "ns.remote.net."),
             Rec(now, "ns.sub.example.com.", kTypeA, a("10.0.1.1")),
         }) {
        z->AddRec(r);
    }
    store.ZoneAdd(z);
    auto rev = std::make_shared<clZone>();
    rev->Name = "0.10.in-addr.arpa.";
    rev->AddRec(Rec(now, "1.0.0.10.in-addr.arpa.", kTypePTR, "www.example.com."));
    store.ZoneAdd(rev);
}

void FillCache(clDNSCache& cache, double now) {
    const auto a = [](const char* ip) { return modIP::IPToData(ip); };
    for (const RecordRef& r : {
             Rec(now, "remote.net.", kTypeNS, "ns.remote.net.", false, 600),
             Rec(now, "ns.remote.net.", kTypeA, a("172.16.0.53"), false, 600),
             Rec(now, "host.remote.net.", kTypeA, a("172.16.0.1"), false, 5),
             Rec(now, "host.remote.net.", kTypeA, a("172.16.0.2"), false, 5),
             Rec(now, "back.remote.net.", kTypeCNAME, "alias.example.com.", false, 600),
             Rec(now, ".", kTypeNS, "a.root.test.", true, 3600),
             Rec(now, "a.root.test.", kTypeA, a("127.0.0.9"), true, 3600),
         }) {
        cache.AddRec(r);
    }
}

// A sent datagram must be a complete reply to its query.
void CheckReply(const Sent& s, const std::string& query, double now) {
    FUZZ_CHECK(s.data.size() >= 12);
    FUZZ_CHECK((static_cast<unsigned char>(s.data[2]) & 0x80) != 0);
    if (static_cast<unsigned char>(s.data[3]) == 0x84 && s.data.size() == query.size() &&
        s.data.compare(4, std::string::npos, query, 4, std::string::npos) == 0) {
        FUZZ_CHECK(s.data.compare(0, 2, query, 0, 2) == 0);
        return;  // the not-implemented reply
    }
    clDNSAnswer a;
    FUZZ_CHECK(DecodeReply(s.data, a, now));
    FUZZ_CHECK(!a.TC);
    std::string_view head(s.data);
    head.remove_prefix(4);
    FUZZ_CHECK(ExtractShort(head, false) == 1);
    FUZZ_CHECK(kestfuzz::GoodName(a.RqName, true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    StepClock clock;
    modMain::Settings settings;
    const uint8_t options = data[0];
    settings.AutoCNAME = (options & 0x01) != 0;
    settings.DNSRecursion = (options & 0x02) ? "<all>" : "10.0.*";
    settings.BombLevel = (options & 0x04) ? 3 : 0;
    settings.LogDetail = (options & 0x08) != 0;
    settings.WriteLog = false;
    settings.RecursionOut = (options & 0x10) != 0;
    if (options & 0x20) settings.NoBlock = {"10.0.0.1"};
    const std::vector<std::string> localIPs{"192.0.2.53"};

    modMain::ActivityLog log(settings, clock, "/nonexistent-kest-fuzz");
    if (options & 0x40) log.OpenWindow();
    clLeases leases(settings, clock, "/nonexistent-kest-fuzz");
    clDNSAuthData store(settings, clock, nullptr, leases, "/nonexistent-kest-fuzz/data");
    clDNSCache cache(settings, clock, &leases,
                     [&store](const std::string& n) { return store.AskAuth(n); });
    FillZones(store, clock.now);
    FillCache(cache, clock.now);

    Sender sender;
    sender.failEvery = (options & 0x80) ? 3 : 0;
    Tcp tcp;
    NoPump pump;
    double total = 0;
    std::array<int16_t, 60> seconds{};
    modMain::IntakeContext ctx;
    ctx.settings = &settings;
    ctx.clock = &clock;
    ctx.log = &log;
    ctx.pump = &pump;
    ctx.localIPs = &localIPs;
    ctx.zones = &store;
    ctx.cache = &cache;
    ctx.sender = &sender;
    ctx.tcp = &tcp;
    ctx.totalRequests = &total;
    ctx.secondCounts = &seconds;
    ctx.programDir = "/nonexistent-kest-fuzz";
    modMain::RequestIntake intake(std::move(ctx));

    static const char* const kSenders[] = {"10.0.0.1", "10.0.0.2", "10.5.0.3", "127.0.0.1"};
    std::vector<RequestRef> waiting;
    size_t at = 1;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        const size_t len = (static_cast<size_t>(data[at + 1]) << 8) | data[at + 2];
        at += 3;
        const size_t take = len < size - at ? len : size - at;
        platform::Datagram d;
        d.data.assign(reinterpret_cast<const char*>(data + at), take);
        at += take;
        d.fromIp = kSenders[control & 0x03];
        d.fromPort = static_cast<uint16_t>(1024 + control);
        d.localIp = "192.0.2.53";
        if (control & 0x04) {
            clock.now += kest::kSecond;
            clock.mono += 1001;
        }
        if ((control & 0x08) && d.data.size() > 12) {
            // A job waiting for this question, so that later copies are tagged onto it.
            std::string_view rest(d.data);
            rest.remove_prefix(12);
            auto job = std::make_shared<clDNSRequest>(intake.Resolver());
            job->RequestName = ExtractName(d.data, rest, true);
            job->RequestType = ExtractShortL(rest, true);
            job->RequestRD = true;
            job->RequestIP = d.fromIp;
            job->RequestPort = -static_cast<int32_t>(control);  // answered over "TCP"
            job->State = 1;
            job->Recursion = true;
            intake.Outstanding().Append(job);
            waiting.push_back(job);
        }

        const size_t before = sender.sent.size();
        intake.OnDatagram(d);
        // Beyond the jobs left waiting here, the list holds at most the limit and the newest.
        size_t clients = 0;
        for (const RequestRef& r : intake.Outstanding().Items()) {
            FUZZ_CHECK(r->Level <= 3);
            clients += r->Level == 0;
        }
        FUZZ_CHECK(clients <=
                   std::max(waiting.size(), modMain::RequestIntake::kMaxOutstanding) + 2);
        for (size_t i = before; i < sender.sent.size(); ++i) {
            const Sent& s = sender.sent[i];
            if (s.port == 53 && (static_cast<unsigned char>(s.data[2]) & 0x80) == 0) {
                // A query of the resolver to another server.
                clDNSAnswer q;
                FUZZ_CHECK(DecodeReply(s.data, q, clock.now));
                FUZZ_CHECK(q.Id >= 1 && q.Id <= 32767);
                FUZZ_CHECK(kestfuzz::GoodName(q.RqName, true));
                continue;
            }
            FUZZ_CHECK(s.ip == d.fromIp && s.port == d.fromPort);
            CheckReply(s, d.data, clock.now);
        }
    }
    // The waiting jobs finish now: they and every client tagged onto them get a reply.
    for (const RequestRef& job : waiting) {
        const size_t tagged = job->TagRequests.size();
        const size_t before = sender.sent.size();
        job->ProcRequest();
        // A job that must ask other servers answers later.
        if (job->State != 9) continue;
        FUZZ_CHECK(sender.sent.size() == before + tagged);
        for (size_t i = before; i < sender.sent.size(); ++i) {
            clDNSAnswer a;
            FUZZ_CHECK(DecodeReply(sender.sent[i].data, a, clock.now));
            FUZZ_CHECK(a.RqName == job->RequestName);
        }
    }
    return 0;
}
