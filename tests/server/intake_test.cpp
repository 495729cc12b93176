// Request intake: datagram arrival, the checks of a query, the not-implemented reply, the flood
// check and the block list, CreateRequest's tagging and limits, blocks.dat.
#include "server/intake.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "platform/sockets.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/resolver/clDNSCache.h"
#include "tests/server/resolver/request_fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace modDNS;
using kest::test::RecordingSender;

class CountingPump : public platform::IEventPump {
  public:
    void Pump() override { ++calls; }
    int calls = 0;
};

class RecordingReplication : public IAuthReplication {
  public:
    void Notify(const std::string&) override {}
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zone,
                    const std::string& message) override {
        calls.push_back(ip + ":" + std::to_string(port) + " " + zone + " " +
                        std::to_string(message.size()));
    }
    std::vector<std::string> calls;
};

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A query: ID, first flag byte, the question (counts as given).
std::string Query(int id, int flags1, const std::string& name, int qtype, int qclass = 1,
                  int qdcount = 1) {
    std::string m = MakeShortL(id);
    m += static_cast<char>(flags1);
    m += '\0';
    m += MakeShortL(qdcount) + std::string(6, '\0');
    m += ZipName("", name);
    m += MakeShortL(qtype) + MakeShortL(qclass);
    return m;
}

class IntakeTest : public ::testing::Test {
  protected:
    IntakeTest()
        : dir_(tmp_.path()),
          log_(settings_, clock_, dir_),
          leases_(settings_, clock_, dir_),
          store_(settings_, clock_, nullptr, leases_, dir_ / "data"),
          cache_(settings_, clock_, nullptr,
                 [this](const std::string& n) { return store_.AskAuth(n); }) {
        settings_.DNSRecursion = "<all>";
        log_.OpenWindow();
        store_.SetReplication(&replication_);
        auto z = std::make_shared<clZone>();
        z->Name = "example.com.";
        store_.ZoneAdd(z);
        store_.GetZone("example.com.")
            ->AddRec(MakeRecord("www.example.com.", kTypeA, modIP::IPToData("10.0.0.1"), 3600,
                                clock_.Now(), true));
        previousSink_ =
            kest::SetErrorSink([this](const std::string& where, const std::string&,
                                      const kest::RunError&) { reports_.push_back(where); });
        Make();
    }
    ~IntakeTest() override {
        kest::SetErrorSink(previousSink_);
        intake_.reset();
    }

    void Make() {
        modMain::IntakeContext c;
        c.settings = &settings_;
        c.clock = &clock_;
        c.log = &log_;
        c.pump = &pump_;
        c.localIPs = &localIPs_;
        c.zones = &store_;
        c.cache = &cache_;
        c.sender = &sender_;
        c.running = [this] { return running_; };
        c.doTray = [this](int icon) { trays_.push_back(icon); };
        c.totalRequests = &total_;
        c.secondCounts = &seconds_;
        c.programDir = dir_;
        intake_ = std::make_unique<modMain::RequestIntake>(std::move(c));
    }

    void Arrive(const std::string& data, const std::string& ip = "10.0.0.9", uint16_t port = 5353) {
        platform::Datagram d;
        d.data = data;
        d.fromIp = ip;
        d.fromPort = port;
        d.localIp = "192.0.2.53";
        d.destIp = d.localIp;
        intake_->OnDatagram(d);
    }
    // The log lines without their time.
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
    // A recursive job that waits for a server's reply.
    RequestRef Waiting(const std::string& name, int32_t type, bool recursion = true) {
        auto job = std::make_shared<clDNSRequest>(intake_->Resolver());
        job->RequestID = 77;
        job->RequestRD = true;
        job->RequestName = name;
        job->RequestType = type;
        job->RequestIP = "10.1.1.1";
        job->RequestPort = 1111;
        job->State = 1;
        job->Recursion = recursion;
        intake_->Outstanding().Append(job);
        return job;
    }

    kest::test::TempDir tmp_;
    std::filesystem::path dir_;
    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    modMain::ActivityLog log_;
    std::vector<std::string> localIPs_{"192.0.2.53"};
    clLeases leases_;
    clDNSAuthData store_;
    clDNSCache cache_;
    RecordingReplication replication_;
    RecordingSender sender_;
    CountingPump pump_;
    bool running_ = true;
    std::vector<int> trays_;
    double total_ = 0;
    std::array<int16_t, 60> seconds_{};
    std::vector<std::string> reports_;
    kest::ErrorSink previousSink_;
    std::unique_ptr<modMain::RequestIntake> intake_;
};

// ---- Queries ------------------------------------------------------------------------------------

TEST_F(IntakeTest, AQueryForAnOwnNameIsAnsweredFromTheAddressItReached) {
    settings_.WriteLog = false;
    Arrive(Query(0x4242, 0x01, "www.example.com.", kTypeA));
    ASSERT_EQ(sender_.sent.size(), 1u);
    EXPECT_EQ(sender_.sent[0].ip, "10.0.0.9");
    EXPECT_EQ(sender_.sent[0].port, 5353);
    EXPECT_EQ(sender_.sent[0].fromLocalIp, "192.0.2.53");
    clDNSAnswer a;
    ASSERT_TRUE(DecodeReply(sender_.sent[0].data, a, clock_.Now()));
    EXPECT_EQ(a.Id, 0x4242);
    EXPECT_TRUE(a.AA);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(modIP::DataToIP(a.Section2[0]->Data), "10.0.0.1");
    EXPECT_TRUE(Logged("Request from 10.0.0.9 for A-record for www.example.com."));
    EXPECT_EQ(total_, 1);
    EXPECT_EQ(pump_.calls, 1);

    // With the window closed and no log file, the request line is not written; the reply's are.
    log_.CloseWindow();
    Arrive(Query(0x4243, 0x01, "www.example.com.", kTypeA));
    int requestLines = 0, replyLines = 0;
    for (const std::string& l : log_.BufferLines()) {
        requestLines += l.find("Request from 10.0.0.9 for A-record") != std::string::npos;
        replyLines += l.find("Sending reply to 10.0.0.9 about A-record") != std::string::npos;
    }
    EXPECT_EQ(requestLines, 1);
    EXPECT_EQ(replyLines, 2);
}

TEST_F(IntakeTest, MalformedQueriesAreLoggedAndNotAnswered) {
    Arrive(Query(1, 0x01, "www.example.com.", kTypeA, 1, 0));
    EXPECT_TRUE(Logged("Incomplete DNS Request from 10.0.0.9"));

    std::string shortQuestion = Query(2, 0x01, "www.example.com.", kTypeA);
    shortQuestion.resize(shortQuestion.size() - 1);
    Arrive(shortQuestion);
    std::string runsOff = Query(3, 0x01, "www.example.com.", kTypeA);
    runsOff.resize(20);
    Arrive(runsOff);
    Arrive(runsOff.substr(0, 12));
    // A label longer than 63 bytes: no reply could repeat the question.
    Arrive(std::string("\x00\x05\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x40", 13) +
           std::string(64, 'a') + std::string("\x00\x00\x01\x00\x01", 5));
    EXPECT_EQ(Lines().size(), 5u);
    EXPECT_EQ(Lines().back(), "Incomplete DNS Request from 10.0.0.9");
    EXPECT_TRUE(sender_.sent.empty());
    EXPECT_EQ(total_, 5);

    // Too short, or the service paused: dropped without a trace.
    Arrive(runsOff.substr(0, 11));
    running_ = false;
    Arrive(Query(4, 0x01, "www.example.com.", kTypeA));
    EXPECT_EQ(Lines().size(), 5u);
    EXPECT_EQ(total_, 5);
    EXPECT_TRUE(sender_.sent.empty());
}

TEST_F(IntakeTest, UnsupportedQueriesGetTheNotImplementedReplyByteForByte) {
    const std::string inverse = Query(0x0A0B, 0x08 | 0x01, "www.example.com.", kTypeA);
    const std::string aaaa = Query(0x0C0D, 0x01, "host.example.com.", 28);
    const std::string chaos = Query(0x0E0F, 0x00, "version.bind.", kTypeTXT, 3);
    for (const std::string& q : {inverse, aaaa, chaos}) Arrive(q);
    ASSERT_EQ(sender_.sent.size(), 3u);
    const std::string queries[] = {inverse, aaaa, chaos};
    for (size_t i = 0; i < 3; ++i) {
        std::string want = queries[i];
        want[2] = static_cast<char>(static_cast<unsigned char>(want[2]) | 0x80);
        want[3] = static_cast<char>(0x84);
        EXPECT_EQ(sender_.sent[i].data, want) << i;
        EXPECT_EQ(sender_.sent[i].fromLocalIp, "192.0.2.53");
    }
    EXPECT_TRUE(Logged("Inverse Query Request from 10.0.0.9"));
    EXPECT_TRUE(Logged("Sending answer to 10.0.0.9 about Inverse Query Request"));
    EXPECT_TRUE(Logged("Sending answer to 10.0.0.9 about AAAA-record for host.example.com."));
    EXPECT_TRUE(Logged("DNS Request from 10.0.0.9 for CHAOS class record"));
    EXPECT_TRUE(Logged("Sending answer to 10.0.0.9 about CHAOS class record"));
    EXPECT_TRUE(Logged("-> Header: Not implemented."));

    sender_.failWith = 90;
    Arrive(aaaa);
    EXPECT_TRUE(Logged("PRCREQ-WS Error 90 Message too long"));
}

TEST_F(IntakeTest, NotifyGoesToTheZoneStoreAndCountsAreKept) {
    clock_.SetLocal({2026, 3, 14, 12, 0, 41});
    seconds_[42] = 9;
    Arrive(Query(5, 0x20, "example.com.", kTypeSOA), "10.0.0.7", 4000);
    Arrive(Query(6, 0x20, "example.com.", kTypeA), "10.0.0.7", 4000);
    ASSERT_EQ(replication_.calls.size(), 1u);
    EXPECT_EQ(replication_.calls[0],
              "10.0.0.7:4000 example.com. " +
                  std::to_string(Query(5, 0x20, "example.com.", kTypeSOA).size()));
    EXPECT_TRUE(Logged("Zone Update Notification from 10.0.0.7 about example.com."));
    EXPECT_EQ(Lines().size(), 1u);
    EXPECT_TRUE(sender_.sent.empty());
    EXPECT_EQ(total_, 2);
    EXPECT_EQ(seconds_[41], 2);
    EXPECT_EQ(seconds_[42], 0);
    EXPECT_EQ(pump_.calls, 2);
}

// ---- Flood check and block list -----------------------------------------------------------------

TEST_F(IntakeTest, FloodBlocksTheSenderAndOthersRestartTheCount) {
    settings_.BombLevel = 5;
    const std::string q = Query(7, 0x01, "www.example.com.", kTypeA);
    for (int i = 0; i < 5; ++i) Arrive(q, "10.0.0.9");
    Arrive(q, "10.0.0.8");  // restarts the run
    for (int i = 0; i < 5; ++i) Arrive(q, "10.0.0.9");
    EXPECT_TRUE(intake_->Blocks().empty());
    EXPECT_EQ(sender_.sent.size(), 11u);

    Arrive(q, "10.0.0.9");  // the sixth in a row within a second
    EXPECT_EQ(intake_->Blocks(), std::vector<std::string>{"10.0.0.9"});
    EXPECT_TRUE(Logged("IP address 10.0.0.9 blocked (more than 5 Requests per second)"));
    EXPECT_EQ(sender_.sent.size(), 11u);
    EXPECT_TRUE(intake_->BlocksChanged());

    Arrive(q, "10.0.0.9");
    EXPECT_TRUE(Logged("Request from 10.0.0.9 on Block list. Ignored!"));
    settings_.LogBlock = false;
    const size_t lines = Lines().size();
    Arrive(q, "10.0.0.9");
    EXPECT_EQ(Lines().size(), lines);
    EXPECT_EQ(sender_.sent.size(), 11u);

    // A slow sender starts a new run once a second has passed.
    for (int i = 0; i < 5; ++i) Arrive(q, "10.0.0.6");
    clock_.AdvanceMs(1001);
    Arrive(q, "10.0.0.6");
    EXPECT_EQ(intake_->RunCount(), 1);
    EXPECT_EQ(intake_->Blocks().size(), 1u);
}

TEST_F(IntakeTest, NoBlockAddressesAndRepliesNeverGetBlocked) {
    settings_.BombLevel = 5;
    settings_.NoBlock = {"10.0.0.5"};
    const std::string q = Query(8, 0x00, "nothing.invalid.", 28);
    for (int i = 0; i < 33000; ++i) Arrive(q, "10.0.0.5");
    EXPECT_TRUE(intake_->Blocks().empty());
    EXPECT_EQ(intake_->RunCount(), 32767);
    EXPECT_EQ(sender_.sent.size(), 33000u);

    // Replies (QR set) leave the flood state alone and are dropped.
    std::string reply = Query(9, 0x81, "www.example.com.", kTypeA);
    for (int i = 0; i < 20; ++i) Arrive(reply, "10.0.0.4");
    EXPECT_EQ(intake_->LastIP(), "10.0.0.5");
    EXPECT_EQ(intake_->RunCount(), 32767);
    EXPECT_TRUE(intake_->Blocks().empty());
    EXPECT_EQ(sender_.sent.size(), 33000u);
    EXPECT_EQ(total_, 33000);
}

TEST_F(IntakeTest, BlocksFileIsReadAndWrittenInItsFormat) {
    {
        std::ofstream out(dir_ / "blocks.dat", std::ios::binary);
        out << "; Kestrune - IP address blocks\r\n   ; a remark\r\n\r\n10.0.0.1\r\n  10.0.0.2\n";
    }
    intake_->SetBlocks({"10.9.9.9"});
    intake_->LoadBlocks();
    EXPECT_EQ(intake_->Blocks(),
              (std::vector<std::string>{"10.9.9.9", "0.0.0.0", "10.0.0.1", "10.0.0.2"}));
    EXPECT_TRUE(intake_->IsBlocked("10.0.0.2"));
    Arrive(Query(1, 0x01, "www.example.com.", kTypeA), "10.0.0.1");
    EXPECT_TRUE(sender_.sent.empty());

    ASSERT_TRUE(intake_->SaveBlocks());
    EXPECT_EQ(ReadAll(dir_ / "blocks.dat"),
              "; Kestrune - IP address blocks\r\n10.9.9.9\r\n0.0.0.0\r\n10.0.0.1\r\n10.0.0.2\r\n");
    EXPECT_FALSE(intake_->BlocksChanged());

    // A flood's block is saved by the next tick's check.
    settings_.BombLevel = 1;
    Arrive(Query(1, 0x01, "www.example.com.", kTypeA), "10.0.0.3");
    Arrive(Query(1, 0x01, "www.example.com.", kTypeA), "10.0.0.3");
    intake_->SaveBlocksIfChanged();
    EXPECT_NE(ReadAll(dir_ / "blocks.dat").find("\r\n10.0.0.3\r\n"), std::string::npos);
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);  // no temporary file left behind

    // A missing file adds nothing; an unwritable one is reported.
    std::filesystem::remove(dir_ / "blocks.dat");
    intake_->LoadBlocks();
    EXPECT_EQ(intake_->Blocks().size(), 5u);
    std::filesystem::create_directory(dir_ / "blocks.dat");
    EXPECT_FALSE(intake_->SaveBlocks());
    EXPECT_EQ(reports_, std::vector<std::string>{"modDNS SaveBlocks"});
}

// ---- Replies ------------------------------------------------------------------------------------

class RecordingSoaClient : public modMain::ISoaReplyClient {
  public:
    bool ExpectsReply(const clDNSAnswer& a, const std::string& ip) const override {
        return a.Id == 4242 && ip == "10.0.0.70";
    }
    void TakeReply(const clDNSAnswer& a) override { taken.push_back(a.RqName); }
    std::vector<std::string> taken;
};

TEST_F(IntakeTest, RepliesAreLoggedByKindAndUnmatchedOnesAreDroppedUncached) {
    settings_.LogDetail = true;
    // NOTIFY acknowledgements and their errors.
    std::string ack = Query(5, 0x80 | (4 << 3), "example.com.", kTypeSOA);
    Arrive(ack, "10.0.0.70", 53);
    EXPECT_TRUE(Logged("Notification Acknowledgement from 10.0.0.70"));
    ack[3] = 5;
    Arrive(ack, "10.0.0.70", 53);
    EXPECT_TRUE(Logged("Reply from 10.0.0.70 about Notification:"));
    EXPECT_TRUE(Logged("-> Header: " + RCodeN(5)));
    Arrive(Query(6, 0x80 | (2 << 3), "example.com.", kTypeA), "10.0.0.70", 53);
    EXPECT_TRUE(
        Logged("Reply from 10.0.0.70 about " + OpCodeN(2) + ": Ignored - No matching requests."));
    Arrive(Query(7, 0x80, "x.", kTypeA, 1, 0).substr(0, 12), "10.0.0.70", 53);
    EXPECT_TRUE(Logged("Reply from 10.0.0.70:"));

    // An answer nobody asked for: logged with its records, never cached.
    std::string reply = Query(8, 0x84, "host.remote.net.", kTypeA);
    reply[7] = 1;  // ANCOUNT
    reply += ZipName("", "host.remote.net.") + MakeShortL(kTypeA) + MakeShortL(1) + MakeLongU(600) +
             MakeShortL(4) + modIP::IPToData("6.6.6.6");
    Arrive(reply, "10.0.0.70", 53);
    EXPECT_TRUE(Logged("Reply from 10.0.0.70 about A-record for host.remote.net.:"));
    EXPECT_TRUE(Logged("-> Answer: A-record for host.remote.net. = 6.6.6.6"));
    EXPECT_TRUE(cache_.Ask("host.remote.net.", kTypeA, true).Section2.empty());

    // The zone transfer client's SOA query takes its reply, which is then cached.
    RecordingSoaClient soa;
    modMain::IntakeContext c;
    c.settings = &settings_;
    c.clock = &clock_;
    c.log = &log_;
    c.cache = &cache_;
    c.soaClient = &soa;
    modMain::RequestIntake withSoa(std::move(c));
    reply[0] = static_cast<char>(4242 >> 8);
    reply[1] = static_cast<char>(4242 & 0xFF);
    platform::Datagram d;
    d.data = reply;
    d.fromIp = "10.0.0.71";
    d.fromPort = 53;
    withSoa.OnDatagram(d);
    EXPECT_TRUE(soa.taken.empty());
    d.fromIp = "10.0.0.70";
    withSoa.OnDatagram(d);
    EXPECT_EQ(soa.taken, std::vector<std::string>{"host.remote.net."});
    EXPECT_EQ(cache_.Ask("host.remote.net.", kTypeA, true).Section2.size(), 1u);
    EXPECT_TRUE(sender_.sent.empty());
}

// ---- CreateRequest ------------------------------------------------------------------------------

TEST_F(IntakeTest, IdenticalRecursiveQuestionsAreTaggedOntoTheWaitingJob) {
    RequestRef waiting = Waiting("www.example.com.", kTypeA);
    Arrive(Query(0x1001, 0x01, "www.example.com.", kTypeA), "10.0.0.9", 6001);
    Arrive(Query(0x1002, 0x01, "www.example.com.", kTypeA), "10.0.0.8", 6002);
    EXPECT_TRUE(sender_.sent.empty());
    ASSERT_EQ(waiting->TagRequests.size(), 2u);
    EXPECT_EQ(intake_->Outstanding().Size(), 1u);

    // Another type, or no recursion desired: a job of its own, answered at once.
    Arrive(Query(0x1003, 0x01, "www.example.com.", kTypeMX), "10.0.0.9", 6003);
    Arrive(Query(0x1004, 0x00, "www.example.com.", kTypeA), "10.0.0.9", 6004);
    EXPECT_EQ(sender_.sent.size(), 2u);
    EXPECT_EQ(waiting->TagRequests.size(), 2u);

    // When the waiting job finishes, every tagged client gets the reply under its own ID.
    sender_.sent.clear();
    waiting->ProcRequest();
    ASSERT_EQ(sender_.sent.size(), 3u);
    std::vector<int32_t> ids;
    std::vector<uint16_t> ports;
    for (const auto& s : sender_.sent) {
        clDNSAnswer a;
        ASSERT_TRUE(DecodeReply(s.data, a, clock_.Now()));
        ids.push_back(a.Id);
        ports.push_back(s.port);
        EXPECT_EQ(a.Section2.size(), 1u);
    }
    EXPECT_EQ(ids, (std::vector<int32_t>{0x1001, 0x1002, 77}));
    EXPECT_EQ(ports, (std::vector<uint16_t>{6001, 6002, 1111}));

    // The finished job leaves the list with the next request.
    Arrive(Query(0x1005, 0x01, "other.example.com.", kTypeA));
    EXPECT_EQ(intake_->Outstanding().Size(), 1u);
    EXPECT_NE(intake_->Outstanding().Items()[0], waiting);
}

TEST_F(IntakeTest, TaggingNeedsTheSameRecursionPermission) {
    settings_.DNSRecursion = "10.1.*";
    RequestRef allowed = Waiting("www.remote.net.", kTypeA, true);
    // 10.2.0.1 may not recurse: it must not receive the recursive answer, so it gets its own.
    Arrive(Query(0x2001, 0x01, "www.remote.net.", kTypeA), "10.2.0.1", 7001);
    EXPECT_TRUE(allowed->TagRequests.empty());
    ASSERT_EQ(sender_.sent.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(sender_.sent[0].data[3]) & 0x80, 0);
    // A client with the same permission is tagged.
    Arrive(Query(0x2002, 0x01, "www.remote.net.", kTypeA), "10.1.7.7", 7002);
    EXPECT_EQ(allowed->TagRequests.size(), 1u);
    EXPECT_EQ(sender_.sent.size(), 1u);
}

TEST_F(IntakeTest, AtMost101JobsAreOutstanding) {
    for (int i = 0; i < 100; ++i) Waiting("n" + std::to_string(i) + ".remote.net.", kTypeA);
    Arrive(Query(0x3001, 0x01, "www.example.com.", kTypeA));
    EXPECT_EQ(intake_->Outstanding().Size(), 101u);  // entered, then answered
    EXPECT_EQ(sender_.sent.size(), 1u);

    // The answered job is removed by the next walk, so another still fits.
    Arrive(Query(0x3002, 0x01, "www.example.com.", kTypeA));
    EXPECT_EQ(sender_.sent.size(), 2u);

    Waiting("n100.remote.net.", kTypeA);
    Arrive(Query(0x3003, 0x01, "www.example.com.", kTypeA));
    Arrive(Query(0x3004, 0x00, "www.example.com.", kTypeA));
    EXPECT_EQ(sender_.sent.size(), 2u);
    EXPECT_EQ(intake_->Outstanding().Size(), 101u);
    // Tagging still works on a full list.
    Arrive(Query(0x3005, 0x01, "n5.remote.net.", kTypeA));
    EXPECT_EQ(intake_->Outstanding().Items()[5]->TagRequests.size(), 1u);
}

TEST_F(IntakeTest, KeysCountUpAndWrapAfter999999) {
    intake_->CreateRequest(1, true, "www.example.com.", kTypeA, "10.0.0.9", 1, 0);
    EXPECT_EQ(intake_->Outstanding().Items().back()->RequestKey, "0000001K");
    intake_->SetKeyCounter(999998);
    intake_->CreateRequest(2, true, "www.example.com.", kTypeA, "10.0.0.9", 1, 0);
    EXPECT_EQ(intake_->Outstanding().Items().back()->RequestKey, "0999999K");
    intake_->CreateRequest(3, true, "www.example.com.", kTypeA, "10.0.0.9", 1, 0);
    EXPECT_EQ(intake_->Outstanding().Items().back()->RequestKey, "0000000K");
    intake_->CreateRequest(4, false, "www.example.com.", kTypeA, "10.0.0.9", 1, 0);
    EXPECT_EQ(intake_->KeyCounter(), 0);  // no key without recursion desired
    EXPECT_EQ(sender_.sent.size(), 4u);
}

}  // namespace
