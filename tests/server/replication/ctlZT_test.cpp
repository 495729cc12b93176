// TCP on port 53: framing, the checks of a request, queries through the resolver with the reply
// on the same connection, NOTIFY over TCP, zone transfers in both forms and their refusals, the
// idle countdowns, a peer that stops reading, and the connection array's limits.
#include "server/replication/ctlZT.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "server/activity_log.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/intake.h"
#include "server/resolver/clDNSCache.h"
#include "tests/server/resolver/request_fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace modDNS;

constexpr int kTypeAXFR = 252;

// The connection as the test sees it: what was queued, whether it was closed. The connection
// frees its socket when it closes, so the state lives apart.
struct SocketState {
    std::string out;
    int sends = 0;
    int failAfter = -1;
    bool closed = false;
    size_t pending = 0;
};

class FakeSocket : public IZTSocket {
  public:
    explicit FakeSocket(std::shared_ptr<SocketState> s) : s_(std::move(s)) {}
    bool Send(const std::string& bytes, Failure& failure) override {
        if (s_->failAfter >= 0 && s_->sends >= s_->failAfter) {
            failure = {105, "No buffer space available"};
            return false;
        }
        ++s_->sends;
        s_->out += bytes;
        return true;
    }
    void Close() override { s_->closed = true; }
    size_t PendingSendBytes() const override { return s_->pending; }

  private:
    std::shared_ptr<SocketState> s_;
};

class RecordingReplication : public IAuthReplication {
  public:
    void Notify(const std::string&) override {}
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zone,
                    const std::string& message) override {
        calls.push_back({ip, port, zone, message});
    }
    struct Call {
        std::string ip;
        int32_t port;
        std::string zone, message;
    };
    std::vector<Call> calls;
};

// The messages of a TCP byte stream, split by their length prefixes; fails on a torn stream.
std::vector<std::string> Messages(const std::string& stream) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < stream.size()) {
        EXPECT_GE(stream.size() - at, 2u);
        const size_t n = (static_cast<unsigned char>(stream[at]) << 8) |
                         static_cast<unsigned char>(stream[at + 1]);
        EXPECT_GE(stream.size() - at - 2, n);
        out.push_back(stream.substr(at + 2, n));
        at += 2 + n;
    }
    return out;
}

std::string Prefixed(const std::string& m) {
    return MakeShortL(static_cast<int64_t>(m.size())) + m;
}

std::string Request(int id, int flags1, const std::string& name, int qtype, int qclass = 1,
                    const std::string& tail = "") {
    std::string m = MakeShortL(id);
    m += static_cast<char>(flags1);
    m += '\0';
    m += MakeShortL(1) + std::string(6, '\0');
    m += ZipName("", name);
    m += MakeShortL(qtype) + MakeShortL(qclass);
    return m + tail;
}

int Count(const std::string& m, int at) {
    return (static_cast<unsigned char>(m[at]) << 8) | static_cast<unsigned char>(m[at + 1]);
}

struct Rr {
    std::string name;
    int type;
    std::string data;  // store form
};

// The answer records of a transfer message, decoded with the codec's name reader.
std::vector<Rr> Answers(const std::string& m, bool whole = true) {
    std::vector<Rr> out;
    std::string_view rest = std::string_view(m).substr(12);
    ExtractName(m, rest, true);
    rest.remove_prefix(4);
    for (int i = 0; i < Count(m, 6); ++i) {
        Rr r;
        r.name = ExtractName(m, rest, true);
        r.type = ExtractShortL(rest, true);
        rest.remove_prefix(6);
        const int len = ExtractShortL(rest, true);
        std::string_view data = rest.substr(0, static_cast<size_t>(len));
        rest.remove_prefix(static_cast<size_t>(len));
        if (r.type == kTypeA || r.type == kTypeTXT) {
            r.data = std::string(data);
        } else if (r.type == kTypeMX) {
            r.data = std::string(data.substr(0, 2));
            data.remove_prefix(2);
            r.data += ExtractName(m, data, true);
        } else if (r.type == kTypeSOA) {
            const std::string mname = ExtractName(m, data, true);
            const std::string rname = ExtractName(m, data, true);
            r.data = mname + '\0' + rname + '\0' + std::string(data);
        } else {
            r.data = ExtractName(m, data, true);
        }
        out.push_back(r);
    }
    if (whole) {
        EXPECT_TRUE(rest.empty());
    }
    return out;
}

// Where the last answer record of a message begins.
size_t LastRecordStart(const std::string& m) {
    std::string_view rest = std::string_view(m).substr(12);
    ExtractName(m, rest, true);
    rest.remove_prefix(4);
    size_t last = 0;
    for (int i = 0; i < Count(m, 6); ++i) {
        last = m.size() - rest.size();
        ExtractName(m, rest, true);
        rest.remove_prefix(8);
        const int len = ExtractShortL(rest, true);
        rest.remove_prefix(static_cast<size_t>(len));
    }
    return last;
}

class ZoneTransferServer : public ::testing::Test {
  protected:
    ZoneTransferServer()
        : dir_(tmp_.path()),
          log_(settings_, clock_, dir_),
          leases_(settings_, clock_, dir_),
          store_(settings_, clock_, log_, leases_, dir_ / "data"),
          cache_(settings_, clock_, nullptr,
                 [this](const std::string& n) { return store_.AskAuth(n); }) {
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data");
        settings_.DNSRecursion = "<all>";
        log_.OpenWindow();
        store_.SetReplication(&replication_);
        previousSink_ =
            kest::SetErrorSink([this](const std::string& where, const std::string&,
                                      const kest::RunError&) { reports_.push_back(where); });

        modMain::IntakeContext ic;
        ic.settings = &settings_;
        ic.clock = &clock_;
        ic.log = &log_;
        ic.zones = &store_;
        ic.cache = &cache_;
        ic.sender = &udp_;
        ic.programDir = dir_;
        ZTContext zt;
        zt.zones = &store_;
        zt.log = [this](int kind, std::string_view text) { log_.AddLine(kind, text); };
        zt.doTray = [this](int) { ++trays_; };
        zt.countRequest = [this] { ++counted_; };
        zt.createRequest = [this](int32_t id, bool rd, const std::string& name, int32_t type,
                                  const std::string& ip, int32_t port) {
            created_.push_back(name + " " + std::to_string(type) + " " + ip + " " +
                               std::to_string(port) + " " + std::to_string(id) + (rd ? " rd" : ""));
            intake_->CreateRequest(id, rd, name, type, ip, port, 0);
        };
        zt.isBlocked = [this](const std::string& ip) { return intake_->IsBlocked(ip); };
        tcp_ = std::make_unique<clTcpConnections>(std::move(zt));
        ic.tcp = tcp_.get();
        intake_ = std::make_unique<modMain::RequestIntake>(std::move(ic));
    }
    ~ZoneTransferServer() override {
        tcp_.reset();
        intake_.reset();
        kest::SetErrorSink(previousSink_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void Zone(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / "data" / (name + "dns"), std::ios::binary) << text;
        ASSERT_TRUE(store_.LoadZone(name, 0));
    }
    // A new connection from ip; the socket stays owned by the connection.
    ctlZT* Connect(const std::string& ip = "10.0.0.9") {
        socket_ = std::make_shared<SocketState>();
        return tcp_->Accept(std::make_unique<FakeSocket>(socket_), ip);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const std::string& l : log_.WindowLines()) out.push_back(l.substr(11));
        return out;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : Lines())
            if (l == line) return true;
        return false;
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    kest::test::TempDir tmp_;  // before the paths made from it
    fs::path dir_;
    modMain::ActivityLog log_;
    clLeases leases_;
    clDNSAuthData store_;
    clDNSCache cache_;
    RecordingReplication replication_;
    kest::test::RecordingSender udp_;
    std::unique_ptr<clTcpConnections> tcp_;
    std::unique_ptr<modMain::RequestIntake> intake_;
    std::shared_ptr<SocketState> socket_;
    std::vector<std::string> created_;
    std::vector<std::string> reports_;
    int counted_ = 0;
    int trays_ = 0;
    kest::ErrorSink previousSink_;
};

constexpr const char* kSmall =
    "; NOTSECURE\r\n"
    "@ 3600 SOA ns hm 7 7200 900 604800 300\r\n"
    "@ 600 NS ns\r\n"
    "www 120 A 10.0.0.1\r\n";

// ---- Framing ------------------------------------------------------------------------------------

TEST_F(ZoneTransferServer, MessagesAreTakenWholeByTheirPrefixesAndShortOnesAreDropped) {
    ctlZT* c = Connect();
    const std::string q1 = Request(1, 0x01, "a.example.", kTypeAXFR + 1);  // type 253: not served
    // Pad the first message to 300 bytes: trailing bytes after the question are allowed.
    const std::string big = q1 + std::string(300 - q1.size(), 'x');
    const std::string framed = Prefixed(big);
    c->DataArrival(framed.substr(0, 102));
    EXPECT_EQ(counted_, 0);
    EXPECT_EQ(socket_->out, "");
    EXPECT_EQ(c->Buffered(), 102u);
    // The rest, a 12-byte message (dropped silently) and a second request, all in one arrival.
    const std::string q2 = Request(2, 0x00, "b.example.", 28);
    c->DataArrival(framed.substr(102) + Prefixed(std::string(12, '\0')) + Prefixed(q2));
    EXPECT_EQ(counted_, 2);
    EXPECT_EQ(c->Buffered(), 0u);
    const auto replies = Messages(socket_->out);
    ASSERT_EQ(replies.size(), 2u);
    // Not implemented: the request itself with the response bit set and response code 4.
    std::string want1 = big;
    want1[2] = static_cast<char>(0x81);
    want1[3] = 4;
    EXPECT_EQ(replies[0], want1);
    EXPECT_EQ(Count(replies[1], 0), 2);
    EXPECT_TRUE(Logged("Request from 10.0.0.9 for AAAA-record for b.example. (TCP)"));
    EXPECT_TRUE(Logged("Sending answer to 10.0.0.9 about AAAA-record for b.example."));
    EXPECT_TRUE(Logged("-> Header: Not implemented."));
    EXPECT_FALSE(socket_->closed);
}

TEST_F(ZoneTransferServer, AnOverlongPrefixIsLoggedOnceAndClosesTheConnectionWithoutAReport) {
    ctlZT* c = Connect();
    c->DataArrival(std::string("\x80\x00", 2) + "rest of it");
    EXPECT_TRUE(socket_->closed);
    EXPECT_FALSE(c->Busy);
    EXPECT_TRUE(reports_.empty());
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("32768"), std::string::npos) << lines[0];
    // 32765 itself is a length the server waits for.
    ctlZT* d = Connect();
    d->DataArrival(std::string("\x7F\xFD", 2) + "abc");
    EXPECT_TRUE(d->Busy);
    EXPECT_FALSE(socket_->closed);
}

TEST_F(ZoneTransferServer, RequestsThatAreRepliesOrIncompleteOrOfOtherKindsGetTheirAnswers) {
    ctlZT* c = Connect();
    // A reply is ignored and not counted.
    c->DataArrival(Prefixed(Request(3, 0x80, "x.example.", kTypeA)));
    EXPECT_EQ(counted_, 0);
    // No question.
    std::string noQuestion = Request(4, 0, "x.example.", kTypeA);
    noQuestion[5] = 0;
    c->DataArrival(Prefixed(noQuestion));
    // A name without its type and class.
    c->DataArrival(Prefixed(Request(5, 0, "x.example.", kTypeA).substr(0, 24)));
    EXPECT_EQ(counted_, 2);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Incomplete DNS Request from 10.0.0.9 (TCP)",
                                                 "Incomplete DNS Request from 10.0.0.9 (TCP)"}));
    EXPECT_EQ(socket_->out, "");
    // Opcode 2 and class 3 are not implemented.
    const std::string status = Request(6, 2 * 8, "x.example.", kTypeA);
    const std::string chaos = Request(7, 0, "x.example.", kTypeTXT, 3);
    c->DataArrival(Prefixed(status) + Prefixed(chaos));
    const auto replies = Messages(socket_->out);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(replies[0][2]), 0x80 | (2 * 8));
    EXPECT_EQ(replies[0][3], 4);
    EXPECT_EQ(replies[0].substr(4), status.substr(4));
    EXPECT_EQ(replies[1].substr(4), chaos.substr(4));
    EXPECT_TRUE(Logged(OpCodeN(2) + " from 10.0.0.9 (TCP)"));
    EXPECT_TRUE(Logged("DNS Request from 10.0.0.9 for " + ClassN(3) + " (TCP)"));
}

// ---- Queries through the resolver ---------------------------------------------------------------

TEST_F(ZoneTransferServer, AQueryGoesToTheResolverAndItsReplyComesBackOnTheSameConnection) {
    Zone("example.",
         "@ 3600 SOA ns hm 7 7200 900 604800 300\r\n@ 600 MX 10 mail\r\n"
         "mail 600 A 10.0.0.25\r\n");
    Connect("10.0.0.8");
    auto other = socket_;
    ctlZT* c = Connect("10.0.0.9");
    EXPECT_EQ(c->ConID, 2);
    const std::string q = Request(0x4321, 0x01, "example.", kTypeMX);
    c->DataArrival(Prefixed(q));
    ASSERT_EQ(created_, (std::vector<std::string>{"example. 15 10.0.0.9 -2 17185 rd"}));
    EXPECT_TRUE(Logged("Request from 10.0.0.9 for MX-record for example. (TCP)"));
    // Answered at once from the zone: the reply set the countdown back to two minutes.
    EXPECT_EQ(c->Countdown(), ctlZT::kIdle);
    EXPECT_EQ(other->out, "");
    EXPECT_TRUE(udp_.sent.empty());
    const auto replies = Messages(socket_->out);
    ASSERT_EQ(replies.size(), 1u);
    const std::string& r = replies[0];
    EXPECT_EQ(Count(r, 0), 0x4321);
    EXPECT_EQ(static_cast<unsigned char>(r[2]) & 0x85, 0x85);  // response, authoritative, rd
    EXPECT_EQ(r[3] & 0x0F, 0);
    const auto an = Answers(r, false);
    ASSERT_GE(an.size(), 1u);
    EXPECT_EQ(an[0].type, kTypeMX);
    EXPECT_EQ(an[0].data, MakeShortL(10) + "mail.example.");
    // A reply for a connection that has gone is dropped.
    c->PeerClosed();
    EXPECT_FALSE(tcp_->SendAnswer(2, r));
}

TEST_F(ZoneTransferServer, ANotifyOverTcpGoesToTheStoreWithTheNegativeConnectionNumber) {
    Connect();
    ctlZT* c = Connect("10.0.0.7");
    const std::string n = Request(99, 4 * 8 | 0x04, "example.com.", kTypeSOA);
    c->DataArrival(Prefixed(n));
    ASSERT_EQ(replication_.calls.size(), 1u);
    EXPECT_EQ(replication_.calls[0].ip, "10.0.0.7");
    EXPECT_EQ(replication_.calls[0].port, -c->ConID);
    EXPECT_EQ(replication_.calls[0].zone, "example.com.");
    EXPECT_EQ(replication_.calls[0].message, n);
    EXPECT_TRUE(Logged("Zone Update Notification from 10.0.0.7 about example.com."));
    // The answer the store sends goes back with its prefix on this connection.
    std::string ack = n;
    ack[2] = static_cast<char>(ack[2] | 0x80);
    EXPECT_TRUE(tcp_->SendAnswer(c->ConID, ack));
    EXPECT_EQ(socket_->out, Prefixed(ack));
    // A NOTIFY about anything but an SOA is not passed on.
    c->DataArrival(Prefixed(Request(100, 4 * 8, "example.com.", kTypeA)));
    EXPECT_EQ(replication_.calls.size(), 1u);
}

// ---- Zone transfers -----------------------------------------------------------------------------

TEST_F(ZoneTransferServer, OneRecordPerMessageGivesTheSoaTheRecordsAndTheSoaAgainByteForByte) {
    Zone("ex.", kSmall);
    ctlZT* c = Connect();
    c->DataArrival(Prefixed(Request(0x1234, 0x01, "ex.", kTypeAXFR)));
    EXPECT_TRUE(Logged("Zone Transfer Request from 10.0.0.9 for ex."));
    EXPECT_TRUE(Logged("Sending Zone Transfer to 10.0.0.9 for ex."));
    EXPECT_EQ(c->Countdown(), ctlZT::kIdleWorking);
    const auto ms = Messages(socket_->out);
    ASSERT_EQ(ms.size(), 4u);

    // Header: ID, 0x84 + rd, 0, one question, one answer; the question at offset 12.
    const std::string head = std::string("\x12\x34\x85\x00\x00\x01\x00\x01\x00\x00\x00\x00", 12) +
                             std::string(
                                 "\x02"
                                 "ex\x00\x00\xFC\x00\x01",
                                 8);
    const std::string ptr = "\xC0\x0C";  // "ex." at offset 12
    const std::string soaData = std::string(
                                    "\x02"
                                    "ns") +
                                ptr +
                                "\x02"
                                "hm" +
                                ptr + MakeLongU(7) + MakeLongU(7200) + MakeLongU(900) +
                                MakeLongU(604800) + MakeLongU(300);
    const std::string soa = head + ptr + std::string("\x00\x06\x00\x01", 4) + MakeLongU(3600) +
                            MakeShortL(static_cast<int64_t>(soaData.size())) + soaData;
    EXPECT_EQ(ms[0], soa);
    EXPECT_EQ(ms[1], head + ptr + std::string("\x00\x02\x00\x01", 4) + MakeLongU(600) +
                         std::string("\x00\x05\x02"
                                     "ns",
                                     5) +
                         ptr);
    EXPECT_EQ(ms[2], head + "\x03www" + ptr + std::string("\x00\x01\x00\x01", 4) + MakeLongU(120) +
                         std::string("\x00\x04\x0A\x00\x00\x01", 6));
    EXPECT_EQ(ms[3], soa);
}

TEST_F(ZoneTransferServer, SeveralRecordsPerMessageFillEachMessageJustPastAThousandBytes) {
    std::string text = "; NOTSECURE\r\n@ 3600 SOA ns hm 7 7200 900 604800 300\r\n@ NS ns\r\n";
    for (int i = 0; i < 400; ++i)
        text += "host" + std::to_string(i) + " A 10.0.1." + std::to_string(i % 250) + "\r\n";
    Zone("example.org.", text);
    const size_t records = store_.GetZone("example.org.")->Records.size();
    ASSERT_EQ(records, 402u);
    ctlZT* c = Connect();
    c->DataArrival(Prefixed(Request(77, 0, "example.org.", kTypeAXFR, 1, "MS")));
    const auto ms = Messages(socket_->out);
    ASSERT_GT(ms.size(), 5u);
    std::vector<Rr> all;
    for (size_t i = 0; i < ms.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned char>(ms[i][2]), 0x84);
        const auto an = Answers(ms[i]);
        ASSERT_FALSE(an.empty());
        if (i + 1 < ms.size()) {
            EXPECT_GT(ms[i].size(), modZT::kMessageFill) << i;
            // Without its last record the message had not yet passed the mark.
            EXPECT_LE(LastRecordStart(ms[i]), modZT::kMessageFill) << i;
        }
        all.insert(all.end(), an.begin(), an.end());
    }
    ASSERT_EQ(all.size(), records + 1);
    EXPECT_EQ(all.front().type, kTypeSOA);
    EXPECT_EQ(all.back().type, kTypeSOA);
    EXPECT_EQ(all.front().data, all.back().data);
    // Every record of the store once, in store order, the SOA's own place skipped.
    const RecordList& store = store_.GetZone("example.org.")->Records;
    size_t k = 1;
    for (const RecordRef& r : store) {
        if (r->RecType == kTypeSOA) continue;
        EXPECT_EQ(all[k].name, r->Name);
        EXPECT_EQ(all[k].data, r->Data);
        ++k;
    }
    // Without "MS" (or with anything else after the question) one record per message.
    socket_->out.clear();
    c->DataArrival(Prefixed(Request(78, 0, "example.org.", kTypeAXFR, 1, "MSX")));
    const auto single = Messages(socket_->out);
    ASSERT_EQ(single.size(), records + 1);
    for (const auto& m : single) EXPECT_EQ(Count(m, 6), 1);
}

TEST_F(ZoneTransferServer, TransfersAreRefusedForUnknownZonesStrangersOfSecureZonesAndNoSoa) {
    Zone("open.example.", kSmall);
    Zone("closed.example.", "@ SOA ns hm 1 2 3 4 5\r\nwww A 10.0.0.1\r\n");
    Zone("listed.example.", "; NOTIFY 10.0.0.3 10.0.0.9\r\n@ SOA ns hm 1 2 3 4 5\r\n");
    Zone("nosoa.example.", "; NOTSECURE\r\nwww A 10.0.0.1\r\n");
    ctlZT* c = Connect();
    const auto refused = [](int id, bool rd, const std::string& zone) {
        std::string m = MakeShortL(id);
        m += static_cast<char>(rd ? 0x81 : 0x80);
        m += '\x05';
        m += std::string("\x00\x01\x00\x00\x00\x00\x00\x00", 8) + ZipName("", zone) +
             std::string("\x00\xFC\x00\x01", 4);
        return m;
    };
    for (const std::string zone : {"none.example.", "closed.example.", "nosoa.example."}) {
        socket_->out.clear();
        c->DataArrival(Prefixed(Request(9, 0x01, zone, kTypeAXFR)));
        EXPECT_EQ(socket_->out, Prefixed(refused(9, true, zone))) << zone;
        EXPECT_TRUE(Logged("Sending answer to 10.0.0.9 about Zone Transfer for " + zone)) << zone;
    }
    EXPECT_TRUE(Logged("-> Header: Refused."));
    EXPECT_FALSE(Logged("Sending Zone Transfer to 10.0.0.9 for closed.example."));
    // Listed in the NOTIFY list, or any host for a NOTSECURE zone.
    for (const std::string zone : {"listed.example.", "open.example."}) {
        socket_->out.clear();
        c->DataArrival(Prefixed(Request(10, 0, zone, kTypeAXFR)));
        EXPECT_GE(Messages(socket_->out).size(), 2u) << zone;
        EXPECT_TRUE(Logged("Sending Zone Transfer to 10.0.0.9 for " + zone)) << zone;
    }
    ctlZT* stranger = Connect("10.0.0.4");
    stranger->DataArrival(Prefixed(Request(11, 0, "listed.example.", kTypeAXFR)));
    EXPECT_EQ(socket_->out, Prefixed(refused(11, false, "listed.example.")));
}

TEST_F(ZoneTransferServer, ASendFailureStopsTheTransferAndClosesTheConnection) {
    // Large enough for the messages to go to the socket in more than one batch.
    std::string text = "; NOTSECURE\r\n@ SOA ns hm 1 2 3 4 5\r\n";
    for (int i = 0; i < 4000; ++i) text += "h" + std::to_string(i) + " A 10.0.0.1\r\n";
    Zone("ex.", text);
    ctlZT* c = Connect();
    socket_->failAfter = 1;
    c->DataArrival(Prefixed(Request(1, 0, "ex.", kTypeAXFR)));
    // What went out before the failure is whole messages, and not all of them.
    const auto sent = Messages(socket_->out);
    EXPECT_GT(sent.size(), 10u);
    EXPECT_LT(sent.size(), 4002u);
    EXPECT_TRUE(Logged("ctlZT-WS Error 105 No buffer space available"));
    EXPECT_TRUE(socket_->closed);
    EXPECT_FALSE(c->Busy);
    // Failing at once: nothing out, the same log line, closed.
    ctlZT* d = Connect();
    socket_->failAfter = 0;
    d->DataArrival(Prefixed(Request(2, 0, "ex.", kTypeAXFR)));
    EXPECT_EQ(socket_->out, "");
    EXPECT_TRUE(socket_->closed);
}

// ---- Lifecycle ----------------------------------------------------------------------------------

TEST_F(ZoneTransferServer, IdleConnectionsCloseAfterTwoMinutesOrTenAfterARequest) {
    Zone("ex.", kSmall);
    ctlZT* quiet = Connect();
    auto quietSocket = socket_;
    ctlZT* asked = Connect();
    asked->DataArrival(Prefixed(Request(1, 0, "ex.", kTypeAXFR)));
    for (int i = 0; i < 119; ++i) tcp_->Tick();
    EXPECT_TRUE(quiet->Busy);
    tcp_->Tick();
    EXPECT_FALSE(quiet->Busy);
    EXPECT_TRUE(quietSocket->closed);
    for (int i = 120; i < 599; ++i) tcp_->Tick();
    EXPECT_TRUE(asked->Busy);
    tcp_->Tick();
    EXPECT_FALSE(asked->Busy);
    EXPECT_TRUE(socket_->closed);
    // Data resets the countdown to two minutes.
    ctlZT* c = Connect();
    for (int i = 0; i < 100; ++i) tcp_->Tick();
    c->DataArrival("\x00");
    EXPECT_EQ(c->Countdown(), ctlZT::kIdle);
}

TEST_F(ZoneTransferServer, APeerThatTakesNothingOfItsQueueIsClosedOneThatReadsIsKept) {
    ctlZT* stuck = Connect();
    auto stuckSocket = socket_;
    ctlZT* slow = Connect();
    stuckSocket->pending = 5000;
    socket_->pending = 900000;
    for (int i = 0; i < ctlZT::kStallSeconds; ++i) {
        tcp_->Tick();
        socket_->pending -= 1000;
    }
    EXPECT_FALSE(stuck->Busy);
    EXPECT_TRUE(stuckSocket->closed);
    EXPECT_TRUE(slow->Busy);
    EXPECT_TRUE(Logged("Closing TCP connection of 10.0.0.9: the peer stopped reading"));
}

TEST_F(ZoneTransferServer, AtMost64ConnectionsAreServedBlockedPeersAreRefusedFreeOnesReused) {
    std::vector<ctlZT*> cons;
    for (size_t i = 0; i < clTcpConnections::kMaxConnections; ++i) cons.push_back(Connect());
    EXPECT_EQ(cons.back()->ConID, 64);
    EXPECT_EQ(Connect(), nullptr);
    EXPECT_TRUE(socket_->closed);
    // A closed one is taken again, under a new number.
    ctlZT* freed = cons[10];
    freed->PeerClosed();
    EXPECT_EQ(Connect(), freed);
    EXPECT_EQ(freed->ConID, 65);  // the refused one was never accepted
    EXPECT_EQ(tcp_->TCPcon().size(), 64u);
    tcp_->CloseAll();
    EXPECT_EQ(tcp_->BusyCount(), 0u);

    intake_->SetBlocks({"10.0.0.66"});
    EXPECT_EQ(Connect("10.0.0.66"), nullptr);
    EXPECT_TRUE(socket_->closed);
    EXPECT_NE(Connect("10.0.0.67"), nullptr);
}

}  // namespace
