// The transfer client and the store's secondary-zone operations on a scripted network with a
// fake clock: the bytes sent, the log lines, the zone file written and the timers.
#include <random>

#include "core/modDNS.h"
#include "tests/server/replication/replication_fixture.h"

namespace reptest {
namespace {

using modReplication::SerialNewer;

constexpr double kSec = 1.0 / 86400.0;

// The SOA query for sec.example. with the given ID, written from the message format.
std::string SoaQuery(unsigned id, const std::string& zone = "sec.example.") {
    return U16(id) + U16(0) + U16(1) + U16(0) + U16(0) + U16(0) + Wire(zone) + U16(6) + U16(1);
}

class Client : public ReplicationTest {
  protected:
    // The reply to the outstanding SOA query as intake decodes it.
    clDNSAnswer SoaAnswer(uint32_t serial, unsigned id = 0,
                          const std::string& owner = "sec.example.") {
        const std::string m = Reply(
            id ? id : client_.SoaID, "sec.example.", 6,
            {RR(owner, 6, 3600,
                SoaRdata("ns1.sec.example.", "hm.sec.example.", serial, 1800, 600, 86400, 300))});
        clDNSAnswer a;
        modDNS::DecodeReply(m, a, clock_.Now());
        return a;
    }
    std::string Soa(uint32_t serial, uint32_t refresh = 7200, uint32_t expire = 172800) {
        return RR(
            "sec.example.", 6, 3600,
            SoaRdata("ns1.sec.example.", "hm.sec.example.", serial, refresh, 900, expire, 300));
    }
    // Brings the client to the point where the transfer request has gone out.
    void StartTransfer() {
        client_.Que("sec.example.");
        client_.TakeReply(SoaAnswer(101));
        ASSERT_EQ(client_.State, 2);
        client_.OnConnect();
        ASSERT_EQ(client_.State, 3);
    }
};

TEST_F(Client, QueSendsTheSoaQueryToThePrimaryAndSameSerialRenewsTheCopy) {
    LoadSecondary();
    client_.Que("sec.example.");
    ASSERT_EQ(net_.udp.size(), 1u);
    EXPECT_EQ(net_.udp[0].ip, "10.0.0.9");
    EXPECT_EQ(net_.udp[0].data, SoaQuery(1));
    EXPECT_EQ(client_.State, 1);
    EXPECT_TRUE(net_.timer);
    EXPECT_EQ(log_.back(), "Sending request to 10.0.0.9 for SOA-record for sec.example.");
    EXPECT_EQ(kinds_.back(), 2);

    // Only the primary's reply with the query's ID and the zone's SOA counts.
    EXPECT_FALSE(client_.ExpectsReply(SoaAnswer(100), "10.0.0.8"));
    EXPECT_FALSE(client_.ExpectsReply(SoaAnswer(100, 7), "10.0.0.9"));
    EXPECT_FALSE(client_.ExpectsReply(SoaAnswer(100, 0, "other.sec.example."), "10.0.0.9"));
    ASSERT_TRUE(client_.ExpectsReply(SoaAnswer(100), "10.0.0.9"));

    clock_.Advance(10);
    client_.TakeReply(SoaAnswer(100));
    const auto zone = store_.GetZone("sec.example.");
    EXPECT_EQ(zone->Records.size(), 2u);
    EXPECT_NEAR(SecondsLeft("sec.example."), 86400, 1e-3);
    EXPECT_NEAR((zone->NextRefresh - clock_.Now()) * 86400, 1800, 1e-3);
    EXPECT_EQ(client_.State, 0);
    EXPECT_FALSE(net_.timer);
    EXPECT_TRUE(net_.connects.empty());
    EXPECT_FALSE(client_.ExpectsReply(SoaAnswer(100), "10.0.0.9"));  // no query outstanding
}

TEST_F(Client, SerialsCompareWithWrapAround) {
    EXPECT_TRUE(SerialNewer(101, 100));
    EXPECT_FALSE(SerialNewer(100, 100));
    EXPECT_FALSE(SerialNewer(99, 100));
    EXPECT_TRUE(SerialNewer(5, 4294967295u));   // wrapped past 2^32: still newer
    EXPECT_FALSE(SerialNewer(4294967295u, 5));  // far "above" is older
    EXPECT_TRUE(SerialNewer(0x7FFFFFFFu, 0));
    EXPECT_FALSE(SerialNewer(0x80000000u, 0));  // undefined distance: not newer
}

TEST_F(Client, NewerSerialTransfersAtOnceWhileTheOldCopyKeepsAnswering) {
    LoadSecondary();
    client_.Que("sec.example.");
    client_.TakeReply(SoaAnswer(101));
    EXPECT_FALSE(Logged("Zone has expired: sec.example."));
    EXPECT_EQ(store_.GetZone("sec.example.")->Records.size(), 2u);
    EXPECT_TRUE(store_.Ask("www.sec.example.", 1, false).AA);
    ASSERT_EQ(net_.connects, (std::vector<std::string>{"10.0.0.9"}));
    EXPECT_EQ(client_.State, 2);

    client_.OnConnect();
    EXPECT_EQ(client_.State, 3);
    const std::string request = U16(2) + U16(0) + U16(1) + U16(0) + U16(0) + U16(0) +
                                Wire("sec.example.") + U16(252) + U16(1) + "MS";
    ASSERT_EQ(net_.tcp.size(), 1u);
    EXPECT_EQ(net_.tcp[0], Framed(request));
    EXPECT_EQ(log_.back(), "Sending Zone Transfer Request to 10.0.0.9 for sec.example.");
}

TEST_F(Client, OneMessageTransferIsStoredAndWrittenInTheServersLayout) {
    LoadSecondary();
    StartTransfer();
    clock_.Advance(5);
    const std::string m =
        Reply(client_.SoaID, "sec.example.", 252,
              {Soa(102), RR("sec.example.", 2, 3600, Wire("ns1.sec.example.")),
               RR("www.sec.example.", 1, 300, A(10, 0, 0, 2)),
               RR("sec.example.", 15, 3600, U16(10) + Wire("mail.other.example.")), Soa(102)});
    client_.OnData(Framed(m));

    EXPECT_TRUE(Logged("Received Zone Transfer from 10.0.0.9 for sec.example."));
    const auto zone = store_.GetZone("sec.example.");
    ASSERT_EQ(zone->Records.size(), 4u);  // the SOA and the three; not the closing SOA
    EXPECT_EQ(zone->SOASerial, 102u);
    EXPECT_EQ(zone->SOARefresh, 7200u);
    EXPECT_NEAR(SecondsLeft("sec.example."), 172800, 1e-3);
    EXPECT_NEAR((zone->NextRefresh - clock_.Now()) * 86400, 7200, 1e-3);
    EXPECT_EQ(store_.Ask("www.sec.example.", 1, false).Section2.at(0)->Data, A(10, 0, 0, 2));
    EXPECT_EQ(Read(data_ / "sec.example.dns"),
              "; PrimaryIP 10.0.0.9\r\n"
              "; Notify 10.0.0.3\r\n"
              "@ 3600 SOA ns1.sec.example. hm.sec.example. 102 7200 900 172800 300\r\n"
              " 3600 NS ns1\r\n"
              "www 300 A 10.0.0.2\r\n"
              "sec.example. 3600 MX 10 mail.other.example.\r\n");
    EXPECT_EQ(notified_, (std::vector<std::string>{"sec.example."}));
    EXPECT_EQ(client_.State, 0);
    EXPECT_EQ(net_.closes, 1);

    // The file reads back to the same zone.
    ASSERT_TRUE(store_.LoadZone("sec.example.", 60));
    EXPECT_EQ(store_.GetZone("sec.example.")->Records.size(), 4u);
}

TEST_F(Client, TransferInOneByteSegmentsOverSeveralMessages) {
    LoadSecondary();
    StartTransfer();
    std::string stream;
    stream += Framed(Reply(client_.SoaID, "sec.example.", 252, {Soa(102)}));
    std::vector<std::string> middle;
    for (int i = 0; i < 50; ++i)
        middle.push_back(RR("h" + std::to_string(i) + ".sec.example.", 1, 60, A(10, 1, 0, i)));
    stream += Framed(Reply(client_.SoaID, "sec.example.", 252, middle));
    stream += Framed(Reply(client_.SoaID, "sec.example.", 252, {Soa(102)}));
    for (char c : stream) {
        ASSERT_EQ(client_.State, 3);
        client_.OnData(std::string(1, c));
    }
    EXPECT_EQ(store_.GetZone("sec.example.")->Records.size(), 51u);
    EXPECT_EQ(client_.State, 0);
}

TEST_F(Client, DataThatDoesNotBelongIsDropped) {
    LoadSecondary();
    StartTransfer();
    const std::string m =
        Reply(client_.SoaID, "sec.example.", 252,
              {Soa(102), RR("www.other.example.", 1, 300, A(10, 0, 0, 66)),  // outside the zone
               RR("short.sec.example.", 1, 300, std::string("\x0a\x00\x00", 3)),  // 3-byte A
               RR("x.sec.example.", 5, 300,
                  std::string("\x03"
                              "a b\x00",
                              5)),                     // blank in name
               RR("x.sec.example.", 15, 300, U16(5)),  // MX without name
               RR("sec.example.", 99, 300, "abc"),     // other type
               RR("ok.sec.example.", 16, 300, std::string("\x02hi", 3)), Soa(102)});
    client_.OnData(Framed(m));
    const auto zone = store_.GetZone("sec.example.");
    ASSERT_EQ(zone->Records.size(), 2u);
    EXPECT_EQ(zone->FindRec("ok.sec.example."), 1);
    EXPECT_EQ(zone->Records[1]->RecType, 6);
}

TEST_F(Client, AFirstRecordOtherThanTheZonesSoaStoresNothing) {
    LoadSecondary();
    StartTransfer();
    client_.OnData(
        Framed(Reply(client_.SoaID, "sec.example.", 252,
                     {RR("www.sec.example.", 1, 300, A(10, 0, 0, 9)), Soa(102), Soa(102)})));
    client_.OnData(
        Framed(Reply(client_.SoaID, "sec.example.", 252,
                     {RR("other.example.", 6, 300,
                         SoaRdata("a.other.example.", "b.other.example.", 1, 2, 3, 4, 5)),
                      Soa(102)})));
    EXPECT_EQ(client_.State, 3);
    EXPECT_TRUE(net_.timer);
    client_.OnTimer();
    EXPECT_EQ(log_.back(), "Failed to receive Zone Transfer from 10.0.0.9 for sec.example.");
    EXPECT_EQ(store_.GetZone("sec.example.")->Records.size(), 2u);
    EXPECT_EQ(store_.GetZone("sec.example.")->SOASerial, 100u);
    EXPECT_EQ(client_.State, 0);
}

TEST_F(Client, PrimaryClosingBeforeTheClosingSoaKeepsTheOldRecords) {
    LoadSecondary();
    const std::string before = Read(data_ / "sec.example.dns");
    StartTransfer();
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252,
                                {Soa(102), RR("new.sec.example.", 1, 60, A(10, 0, 0, 3))})));
    client_.OnClose();
    EXPECT_EQ(log_.back(), "Failed to receive Zone Transfer from 10.0.0.9 for sec.example.");
    EXPECT_EQ(store_.GetZone("sec.example.")->FindRec("www.sec.example."), 2);
    EXPECT_EQ(Read(data_ / "sec.example.dns"), before);
    EXPECT_EQ(client_.State, 0);
    EXPECT_TRUE(notified_.empty());
}

TEST_F(Client, FormErrToTheSeveralRecordsFormAsksAgainPlainly) {
    LoadSecondary();
    StartTransfer();
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252, {}, 1)));
    EXPECT_EQ(net_.connects.size(), 2u);
    EXPECT_EQ(client_.State, 2);
    EXPECT_TRUE(client_.AsksPlain("10.0.0.9"));
    client_.OnConnect();
    const std::string plain = U16(3) + U16(0) + U16(1) + U16(0) + U16(0) + U16(0) +
                              Wire("sec.example.") + U16(252) + U16(1);
    EXPECT_EQ(net_.tcp.back(), Framed(plain));
    // A FORMERR to the plain form is not asked again.
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252, {}, 1)));
    EXPECT_EQ(net_.connects.size(), 2u);
    client_.OnTimer();
    EXPECT_EQ(log_.back(), "Failed to receive Zone Transfer from 10.0.0.9 for sec.example.");
}

TEST_F(Client, ClosingWithoutAMessageAfterTheSeveralRecordsFormAsksAgainPlainly) {
    LoadSecondary();
    StartTransfer();
    client_.OnClose();
    ASSERT_EQ(client_.State, 2);
    client_.OnConnect();
    EXPECT_EQ(net_.tcp.back().substr(net_.tcp.back().size() - 4), U16(252) + U16(1));
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252, {Soa(102), Soa(102)})));
    EXPECT_EQ(store_.GetZone("sec.example.")->SOASerial, 102u);
    // The next transfer from that primary starts plain.
    client_.Que("sec.example.");
    client_.TakeReply(SoaAnswer(103));
    client_.OnConnect();
    EXPECT_EQ(net_.tcp.back().substr(net_.tcp.back().size() - 4), U16(252) + U16(1));
}

TEST_F(Client, TransferOverItsDeadlineFails) {
    LoadSecondary();
    StartTransfer();
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252, {Soa(102)})));
    // A trickle that keeps the five-second timer from ever firing.
    for (int i = 0; i < 15 * 60 / 4 - 1; ++i) {  // 896 seconds
        clock_.Advance(4);
        client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252,
                                    {RR("t.sec.example.", 1, 60, A(10, 0, 0, 1))})));
        if (client_.State != 3) break;
    }
    EXPECT_EQ(client_.State, 3);
    clock_.Advance(8);
    client_.OnData(Framed(Reply(client_.SoaID, "sec.example.", 252, {})));
    EXPECT_EQ(client_.State, 0);
    EXPECT_EQ(log_.back(), "Failed to receive Zone Transfer from 10.0.0.9 for sec.example.");
    EXPECT_EQ(store_.GetZone("sec.example.")->SOASerial, 100u);
}

TEST_F(Client, TransferOverItsSizeCapFails) {
    LoadSecondary();
    StartTransfer();
    // Messages the walker passes over (server failure), 64 KiB each, past 64 MiB in all.
    std::string filler = Reply(client_.SoaID, "sec.example.", 252, {}, 2);
    filler.resize(65000, '\0');
    const std::string framed = Framed(filler);
    size_t sent = 0;
    while (client_.State == 3 && sent <= (size_t{64} << 20)) {
        client_.OnData(framed);
        sent += framed.size();
    }
    EXPECT_EQ(client_.State, 0);
    EXPECT_GT(sent, (size_t{64} << 20) - framed.size());
    EXPECT_EQ(log_.back(), "Failed to receive Zone Transfer from 10.0.0.9 for sec.example.");
    EXPECT_EQ(store_.GetZone("sec.example.")->Records.size(), 2u);
}

TEST_F(Client, QueueHoldsEachZoneOnceAndSkipsPrimaryZones) {
    LoadSecondary("a.example.");
    LoadSecondary("b.example.");
    Write("p.example.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    ASSERT_TRUE(store_.LoadZone("p.example.", 0));
    client_.Que("a.example.");
    client_.Que("a.example.");  // in progress: no effect
    client_.Que("p.example.");
    client_.Que("b.example.");
    client_.Que("b.example.");
    EXPECT_EQ(client_.Queue(), (std::deque<std::string>{"p.example.", "b.example."}));
    client_.OnTimer();  // no reply to the SOA query of a.example.
    ASSERT_EQ(net_.udp.size(), 2u);
    EXPECT_EQ(net_.udp[1].data, SoaQuery(2, "b.example."));
    EXPECT_TRUE(client_.Queue().empty());
    client_.OnTimer();
    EXPECT_EQ(client_.State, 0);
    EXPECT_EQ(net_.udp.size(), 2u);
}

TEST_F(Client, AnEmptyCopyIsTransferredWithoutAnSoaCheck) {
    LoadSecondary("sec.example.", 0);
    store_.GetZone("sec.example.")->Records.clear();
    client_.Que("sec.example.");
    EXPECT_TRUE(net_.udp.empty());
    EXPECT_EQ(net_.connects.size(), 1u);
    EXPECT_EQ(client_.State, 2);
}

TEST_F(Client, SocketErrorsMoveTheQueueOn) {
    LoadSecondary("a.example.");
    LoadSecondary("b.example.");
    net_.failUdp = true;
    client_.Que("a.example.");
    EXPECT_TRUE(Logged("ctlZTS ProcQ WS Error 101 Network is unreachable"));
    EXPECT_EQ(client_.State, 0);
    net_.failUdp = false;
    client_.Que("b.example.");
    EXPECT_EQ(net_.udp.back().data, SoaQuery(2, "b.example."));

    store_.GetZone("a.example.")->Records.clear();
    net_.failConnect = true;
    client_.OnTimer();
    client_.Que("a.example.");
    EXPECT_EQ(log_.back(), "ctlZTS StartZT WS Error 111 Connection refused");
    EXPECT_EQ(client_.State, 0);
}

TEST_F(Client, PausedServerKeepsTheQueueAndResumesOnStart) {
    LoadSecondary("a.example.");
    LoadSecondary("b.example.");
    client_.Que("a.example.");
    client_.Que("b.example.");
    running_ = false;
    client_.OnTimer();  // the step ends while paused
    EXPECT_EQ(client_.State, 0);
    EXPECT_EQ(client_.Queue(), (std::deque<std::string>{"b.example."}));
    EXPECT_EQ(net_.udp.size(), 1u);
    running_ = true;
    client_.ProcQ();  // what the start of the server does for an idle client
    EXPECT_EQ(net_.udp.back().data, SoaQuery(2, "b.example."));
}

// ---- The store's side ------------------------------------------------------------------------

TEST_F(Client, CheckSecondariesExpiresOverdueCopiesAndQueuesDueOnes) {
    LoadSecondary("old.example.", -1);
    LoadSecondary("due.example.", 3600);
    Write("p.example.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    ASSERT_TRUE(store_.LoadZone("p.example.", 0));
    running_ = false;  // keep the queue still to look at it
    secondaries_.CheckSecondaries();

    EXPECT_TRUE(Logged("Zone has expired: old.example."));
    EXPECT_FALSE(Logged("Zone has expired: due.example."));
    const auto old = store_.GetZone("old.example.");
    EXPECT_TRUE(old->Records.empty());
    EXPECT_EQ(old->SOARetry, 300u);
    EXPECT_NEAR((old->NextRefresh - clock_.Now()) * 86400, 300, 1e-3);
    EXPECT_EQ(Read(data_ / "old.example.dns"), "; PrimaryIP 10.0.0.9\r\n; Notify 10.0.0.3\r\n");
    const auto due = store_.GetZone("due.example.");
    EXPECT_EQ(due->Records.size(), 2u);
    EXPECT_NEAR((due->NextRefresh - clock_.Now()) * 86400, 600, 1e-3);  // its SOARetry
    EXPECT_EQ(client_.Queue(), (std::deque<std::string>{"due.example.", "old.example."}));

    // Nothing is due a second later.
    clock_.Advance(1);
    secondaries_.CheckSecondaries();
    EXPECT_EQ(client_.Queue().size(), 2u);
}

TEST_F(Client, ZoneTimerFileCarriesLifetimesAndIsSavedWhenTheyChange) {
    LoadSecondary("sec.example.", 3600);
    LoadSecondary("gone.example.", -20);
    Write("p.example.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    ASSERT_TRUE(store_.LoadZone("p.example.", 0));
    const fs::path file = data_ / "zonettl.dat";

    secondaries_.SaveZoneTTLIfChanged();
    EXPECT_EQ(Read(file), "gone.example. -20\r\nsec.example.  3600\r\n");
    fs::remove(file);
    clock_.Advance(30);
    secondaries_.SaveZoneTTLIfChanged();  // nothing changed
    EXPECT_FALSE(fs::exists(file));

    client_.Que("sec.example.");
    client_.TakeReply(SoaAnswer(100));  // renews the copy: a day to live
    secondaries_.SaveZoneTTLIfChanged();
    EXPECT_EQ(Read(file), "gone.example. -50\r\nsec.example.  86400\r\n");

    // A restart a minute later reads the lifetimes less the file's age.
    const auto sys = std::chrono::sys_seconds(std::chrono::seconds(kest::DaysToUnix(clock_.Now())));
    fs::last_write_time(file, std::chrono::file_clock::from_sys(sys));
    clock_.Advance(60);
    store_.LoadAll();
    EXPECT_NEAR(SecondsLeft("sec.example."), 86340, 1e-3);
    EXPECT_NEAR(SecondsLeft("gone.example."), -110, 1e-3);
}

TEST(AddRecords, SameOrderAsAddRecOneByOne) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<RecordRef> records;
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            records.push_back(MakeRecord("n" + std::to_string(rng() % 6) + ".z.", 1,
                                         std::to_string(i), 60, 0, true));
        }
        clZone one, bulk;
        for (const auto& r : records) one.AddRec(r);
        modReplication::AddRecords(bulk, records);
        ASSERT_EQ(one.Records, bulk.Records) << "round " << round;
    }
}

}  // namespace
}  // namespace reptest
