// The DHCP server from whole datagram to reply bytes: the option walk, the address choice over a
// lease table that lives across the inputs of one run, and the reply writer. Every reply must be
// a well-formed reply to the message that caused it, and the table must stay within the scope.
//
// Input: the first byte picks the settings (lease time, scope width, router, DNSBind, server
// name); then a series of datagrams, each a control byte (bits 0-1: socket 1 to 3, socket 3
// belonging to no interface; bit 2: an hour passes first; bit 3: sent from the client's own
// address, else from 0.0.0.0) and a 16-bit length, then that many bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/modIP.h"
#include "fuzz/fuzz_check.h"
#include "server/dhcp/clLease.h"
#include "server/dhcp/modDHCP.h"
#include "server/settings.h"

namespace {

class StepClock : public kest::IClock {
  public:
    double Now() const override { return now; }
    double ToLocal(double utcDays) const override { return utcDays; }
    int64_t MonotonicMs() const override { return mono; }
    double now = 46000.5;
    int64_t mono = 1'000'000;
};

struct Sent {
    int16_t ws;
    std::string data, ip;
};

class Sender : public modDHCP::IDHCPSender {
  public:
    bool Send(int16_t ws, const std::string& data, const std::string& ip, uint16_t port) override {
        FUZZ_CHECK(port == modDHCP::kClientPort);
        sent.push_back({ws, data, ip});
        return true;
    }
    std::vector<Sent> sent;
};

uint8_t At(const std::string& s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

// The reply to request (whole datagram) by the layout; aborts on anything out of place.
void CheckReply(const std::string& request, const std::string& reply) {
    FUZZ_CHECK(reply.size() > 240);
    FUZZ_CHECK(At(reply, 0) == 2);
    FUZZ_CHECK(At(reply, 1) == At(request, 1));
    FUZZ_CHECK(At(reply, 2) <= 16);
    FUZZ_CHECK(reply.compare(4, 4, request, 4, 4) == 0);            // xid
    FUZZ_CHECK(reply.compare(12, 4, request, 12, 4) == 0);          // ciaddr
    FUZZ_CHECK(reply.compare(236, 4, "\x63\x82\x53\x63", 4) == 0);  // cookie
    size_t p = 240;
    int n = 0;
    bool sawName = false;
    while (true) {
        FUZZ_CHECK(p < reply.size());
        const uint8_t code = At(reply, p);
        if (code == 255) break;
        FUZZ_CHECK(p + 1 < reply.size());
        const size_t len = At(reply, p + 1);
        FUZZ_CHECK(p + 2 + len <= reply.size());
        if (n == 0) FUZZ_CHECK(code == 53 && len == 1);
        if (code == 61) FUZZ_CHECK(len > 0);
        if (code == 12) {
            FUZZ_CHECK(len >= 2 && len <= modDHCP::kMaxClientName + 1);
            FUZZ_CHECK(At(reply, p + 1 + len) == 0);
            sawName = true;
        }
        p += 2 + len;
        ++n;
    }
    FUZZ_CHECK(p + 1 == reply.size());
    FUZZ_CHECK(sawName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static StepClock clock;
    static modMain::Settings settings;
    static clLeases leases(settings, clock, "/nonexistent-kest-fuzz");
    static Sender sender;

    const uint8_t cfg = data[0];
    settings.Name = cfg & 1 ? "gateway.lan" : "gateway";
    settings.DNSBind = cfg & 2 ? "192.0.2.9" : "";
    settings.DHCP.clear();
    modMain::DHCPEntry e;
    e.IPaddr = "192.0.2.1";
    e.Domain = cfg & 4 ? "lan." : "a-rather-long-domain.example.";
    e.ScopeFrom = "192.0.2.0";
    e.ScopeTo = cfg & 8 ? "192.0.2.3" : "192.0.2.40";
    e.Subnet = "255.255.255.0";
    e.Gateway = cfg & 16 ? "0.0.0.0" : "192.0.2.254";
    e.TTL = cfg & 32 ? 60 : 259200;
    settings.DHCP.push_back(e);
    e.IPaddr = "198.51.100.1";
    e.ScopeFrom = "198.51.100.10";
    e.ScopeTo = "198.51.100.12";
    settings.DHCP.push_back(e);
    // The widest pair of scopes any input sets; leases outlive the input that made them.
    constexpr size_t scopeSize = 41 + 3;
    if (cfg & 64) leases.Clear();

    modDHCP::DHCPContext ctx;
    ctx.settings = &settings;
    ctx.clock = &clock;
    ctx.leases = &leases;
    ctx.sender = &sender;
    ctx.socketAddress = [](int16_t i) {
        return i == 1 ? std::string("192.0.2.1") : i == 2 ? std::string("198.51.100.1") : "";
    };
    modDHCP::clDHCPServer server(ctx);

    size_t p = 1;
    while (p + 3 <= size) {
        const uint8_t control = data[p];
        const size_t len = static_cast<size_t>(data[p + 1]) << 8 | data[p + 2];
        p += 3;
        const size_t take = len < size - p ? len : size - p;
        const std::string datagram(reinterpret_cast<const char*>(data + p), take);
        p += take;
        if (control & 4) clock.now += 1.0 / 24;
        const auto ws = static_cast<int16_t>((control & 3) % 3 + 1);
        std::string from = "0.0.0.0";
        if (control & 8 && datagram.size() >= 16) from = modIP::DataToIP(datagram.substr(12, 4));
        sender.sent.clear();
        server.OnDatagram(ws, datagram, from);
        FUZZ_CHECK(sender.sent.size() <= 1);
        for (const Sent& s : sender.sent) {
            FUZZ_CHECK(s.ws == ws && ws != 3);
            CheckReply(datagram, s.data);
        }
        // Every stored lease replaced any other of its address: the table is bounded by the
        // scopes.
        FUZZ_CHECK(leases.Count() <= scopeSize);
    }
    return 0;
}
