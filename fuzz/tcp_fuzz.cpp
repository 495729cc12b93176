// The DNS side of a TCP connection: framing of the byte stream, the checks of each request,
// queries handed on, NOTIFY passed to the store, zone transfers in both forms and refusals, the
// idle countdown and send failures. What the server writes must be a well-framed stream of
// responses; a transfer's messages must decode completely.
//
// Input: chunks, each a control byte and a length byte, then that many bytes for the connection.
// Control bits: 0 a timer tick first; 1 the peer closes and a new connection comes; 2 sends fail
// from now on (until the next new connection); 3 the peer is a listed secondary of the secure zone.
#include <cstdint>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "fuzz/fuzz_check.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/replication/ctlZT.h"
#include "server/settings.h"

namespace {

using namespace modDNS;

class StepClock : public kest::IClock {
  public:
    double Now() const override { return 46000.5; }
    double ToLocal(double utcDays) const override { return utcDays; }
    int64_t MonotonicMs() const override { return 1'000'000; }
};

struct Stream {
    std::string out;
    bool fail = false;
    bool closed = false;
};

class Socket : public IZTSocket {
  public:
    explicit Socket(std::shared_ptr<Stream> s) : s_(std::move(s)) {}
    bool Send(const std::string& bytes, Failure& failure) override {
        if (s_->fail) {
            failure = {105, "No buffer space available"};
            return false;
        }
        s_->out += bytes;
        return true;
    }
    void Close() override { s_->closed = true; }
    size_t PendingSendBytes() const override { return 0; }

  private:
    std::shared_ptr<Stream> s_;
};

class NoReplication : public IAuthReplication {
  public:
    void Notify(const std::string&) override {}
    void ProcNotify(const std::string&, int32_t port, const std::string&,
                    const std::string& message) override {
        FUZZ_CHECK(port < 0);
        FUZZ_CHECK(message.size() > 12);
    }
};

RecordRef Rec(const std::string& name, int32_t type, const std::string& data) {
    return MakeRecord(name, type, data, 3600, 46000.5, true);
}

void Fill(clDNSAuthData& store) {
    const auto soa = [](const std::string& zone) {
        return MakeSOAData({"ns." + zone, "hm." + zone, 7, 3600, 600, 86400, 300});
    };
    auto open = std::make_shared<clZone>();
    open->Name = "example.com.";
    open->Secure = false;
    open->AddRec(Rec("example.com.", kTypeSOA, soa("example.com.")));
    open->AddRec(Rec("example.com.", kTypeNS, "ns.example.com."));
    open->AddRec(Rec("example.com.", kTypeMX, MakeShortL(10) + "mail.example.com."));
    open->AddRec(Rec("ns.example.com.", kTypeA, modIP::IPToData("10.0.0.1")));
    open->AddRec(Rec("txt.example.com.", kTypeTXT, std::string("\x05hello", 6)));
    open->AddRec(Rec("_s._tcp.example.com.", kTypeSRV,
                     MakeShortL(1) + MakeShortL(2) + MakeShortL(3) + "ns.example.com."));
    for (int i = 0; i < 60; ++i) {
        open->AddRec(Rec("h" + std::to_string(i) + ".example.com.", kTypeA,
                         modIP::IPToData("10.0.1." + std::to_string(i))));
    }
    store.ZoneAdd(open);
    auto secure = std::make_shared<clZone>();
    secure->Name = "secure.net.";
    secure->Slaves = {"10.0.0.2"};
    secure->AddRec(Rec("secure.net.", kTypeSOA, soa("secure.net.")));
    secure->AddRec(Rec("www.secure.net.", kTypeCNAME, "secure.net."));
    store.ZoneAdd(secure);
    auto nosoa = std::make_shared<clZone>();
    nosoa->Name = "nosoa.org.";
    nosoa->Secure = false;
    nosoa->AddRec(Rec("a.nosoa.org.", kTypeA, modIP::IPToData("10.0.0.3")));
    store.ZoneAdd(nosoa);
}

// Everything written is a sequence of framed responses; transfer messages decode completely.
void CheckStream(const std::string& out) {
    size_t at = 0;
    while (at < out.size()) {
        FUZZ_CHECK(out.size() - at >= 2);
        const size_t n =
            (static_cast<unsigned char>(out[at]) << 8) | static_cast<unsigned char>(out[at + 1]);
        FUZZ_CHECK(out.size() - at - 2 >= n);
        const std::string m = out.substr(at + 2, n);
        at += 2 + n;
        FUZZ_CHECK(m.size() >= 12);
        FUZZ_CHECK((static_cast<unsigned char>(m[2]) & 0x80) != 0);
        if ((static_cast<unsigned char>(m[2]) & 0x04) != 0 && (m[3] & 0x0F) == 0) {
            clDNSAnswer answer;
            FUZZ_CHECK(DecodeReply(m, answer, 46000.5));
            FUZZ_CHECK(answer.RqType == 252);
            FUZZ_CHECK(!answer.Section2.empty());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StepClock clock;
    modMain::Settings settings;
    clLeases leases(settings, clock, "/nonexistent-kest-fuzz");
    clDNSAuthData store(settings, clock, nullptr, leases, "/nonexistent-kest-fuzz/data");
    NoReplication replication;
    store.SetReplication(&replication);
    Fill(store);

    int asked = 0;
    ZTContext ctx;
    ctx.zones = &store;
    ctx.createRequest = [&](int32_t id, bool, const std::string& name, int32_t type,
                            const std::string&, int32_t port) {
        FUZZ_CHECK(id >= 0 && id <= 0xFFFF);
        FUZZ_CHECK(port < 0);
        FUZZ_CHECK(type >= 0 && type <= 0xFFFF);
        FUZZ_CHECK(kestfuzz::GoodName(name, true));
        ++asked;
    };
    ctlZT con(ctx);
    auto stream = std::make_shared<Stream>();
    int32_t conId = 1;
    con.Accept(conId, std::make_unique<Socket>(stream), "10.0.0.9");

    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t control = data[at];
        const size_t len = data[at + 1];
        at += 2;
        const size_t take = len < size - at ? len : size - at;
        const std::string chunk(reinterpret_cast<const char*>(data + at), take);
        at += take;
        if (control & 0x01) con.TimerTick();
        if ((control & 0x02) || !con.Busy) {
            CheckStream(stream->out);
            con.PeerClosed();
            FUZZ_CHECK(!con.Busy && stream->closed);
            stream = std::make_shared<Stream>();
            con.Accept(++conId, std::make_unique<Socket>(stream),
                       (control & 0x08) ? "10.0.0.2" : "10.0.0.9");
        }
        if (control & 0x04) stream->fail = true;
        con.DataArrival(chunk);
        // Whatever stays buffered is less than one whole message and its prefix.
        FUZZ_CHECK(!con.Busy || con.Buffered() < 2 + modZT::kMaxTcpRequest);
    }
    CheckStream(stream->out);
    return 0;
}
