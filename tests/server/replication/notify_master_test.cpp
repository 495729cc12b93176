// Received notifications and the master directory, on a scripted network and real files.
#include "server/replication/master_list.h"
#include "server/replication/notify_in.h"
#include "tests/server/replication/replication_fixture.h"

namespace reptest {
namespace {

class Sender : public IDatagramSender {
  public:
    struct Sent {
        std::string data, ip;
        uint16_t port;
    };
    std::vector<Sent> sent;
    bool fail = false;
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port, const std::string&,
                Failure& failure) override {
        if (fail) {
            failure = {101, "Network is unreachable"};
            return false;
        }
        sent.push_back({data, ip, port});
        return true;
    }
};

class TcpSink : public ITcpAnswerSink {
  public:
    std::vector<std::pair<int32_t, std::string>> sent;
    bool SendAnswer(int32_t id, const std::string& m) override {
        sent.emplace_back(id, m);
        return true;
    }
};

class NotifyIn : public ReplicationTest {
  protected:
    NotifyIn()
        : notifyIn_(store_, client_,
                    modReplication::NotifyInHost{
                        &sender_, [this]() -> ITcpAnswerSink* { return tcpSet_ ? &tcp_ : nullptr; },
                        [this](int icon) { icons_.push_back(icon); }, [this] { ++pumps_; }}) {}

    // A NOTIFY as a primary sends it: opcode 4, AA, one SOA question.
    static std::string Notify(unsigned id, const std::string& zone) {
        return U16(id) + std::string("\x24\x00", 2) + U16(1) + U16(0) + U16(0) + U16(0) +
               Wire(zone) + U16(6) + U16(1);
    }

    Sender sender_;
    TcpSink tcp_;
    bool tcpSet_ = true;
    std::vector<int> icons_;
    int pumps_ = 0;
    modReplication::clNotifyIn notifyIn_;
};

TEST_F(NotifyIn, KnownZoneIsAcknowledgedAndCheckedAtOnce) {
    LoadSecondary();
    const std::string request = Notify(4242, "sec.example.");
    notifyIn_.ProcNotify("10.0.0.9", 3456, "sec.example.", request);
    ASSERT_EQ(sender_.sent.size(), 1u);
    std::string ack = request;
    ack[2] = static_cast<char>(0x24 | 0x80);
    EXPECT_EQ(sender_.sent[0].data, ack);
    EXPECT_EQ(sender_.sent[0].ip, "10.0.0.9");
    EXPECT_EQ(sender_.sent[0].port, 3456);
    EXPECT_EQ(log_[0], "Sending Notification Acknowledgement to 10.0.0.9");
    EXPECT_EQ(icons_, (std::vector<int>{1}));
    EXPECT_EQ(pumps_, 1);
    // Checked against the primary now; NextRefresh moved to a retry interval ahead.
    ASSERT_EQ(net_.udp.size(), 1u);
    EXPECT_EQ(net_.udp[0].ip, "10.0.0.9");
    EXPECT_EQ(client_.State, 1);
    EXPECT_NEAR((store_.GetZone("sec.example.")->NextRefresh - clock_.Now()) * 86400, 600, 1e-3);
}

TEST_F(NotifyIn, ZoneRemovedWhileEventsRanIsNotQueued) {
    LoadSecondary();
    modReplication::clNotifyIn in(
        store_, client_, modReplication::NotifyInHost{&sender_, {}, {}, [this] {
                                                          store_.UnloadZone("sec.example.");
                                                      }});
    in.ProcNotify("10.0.0.9", 53, "sec.example.", Notify(3, "sec.example."));
    EXPECT_EQ(sender_.sent.size(), 1u);
    EXPECT_TRUE(net_.udp.empty());
    EXPECT_TRUE(client_.Queue().empty());
}

TEST_F(NotifyIn, UnknownZoneGetsServerFailure) {
    const std::string request = Notify(7, "nope.example.");
    notifyIn_.ProcNotify("10.0.0.9", 53, "nope.example.", request);
    ASSERT_EQ(sender_.sent.size(), 1u);
    const std::string& r = sender_.sent[0].data;
    EXPECT_EQ(r.substr(0, 2), U16(7));
    EXPECT_EQ(static_cast<unsigned char>(r[2]), 0xA4);
    EXPECT_EQ(r[3], 2);
    EXPECT_EQ(r.substr(4), request.substr(4));
    EXPECT_EQ(log_,
              (std::vector<std::string>{
                  "Sending answer to 10.0.0.9 about Zone Update Notification for nope.example.",
                  "-> Header: Server Failure (Unknown Zone)"}));
    EXPECT_TRUE(net_.udp.empty());
}

TEST_F(NotifyIn, OverTcpTheReplyGoesBackOnTheConnection) {
    LoadSecondary();
    const std::string request = Notify(9, "sec.example.");
    notifyIn_.ProcNotify("10.0.0.9", -12, "sec.example.", request);
    EXPECT_TRUE(sender_.sent.empty());
    ASSERT_EQ(tcp_.sent.size(), 1u);
    EXPECT_EQ(tcp_.sent[0].first, 12);
    EXPECT_EQ(static_cast<unsigned char>(tcp_.sent[0].second[2]), 0xA4);
    // Without the connections attached nothing is sent, and the zone is still checked.
    tcpSet_ = false;
    client_.OnTimer();
    notifyIn_.ProcNotify("10.0.0.9", -12, "sec.example.", request);
    EXPECT_EQ(tcp_.sent.size(), 1u);
    EXPECT_EQ(net_.udp.size(), 2u);
}

TEST_F(NotifyIn, MasterDirectoryQueuesNothingAndSendErrorsAreLogged) {
    LoadSecondary();
    settings_.MasterDir = (root_ / "master").string();
    sender_.fail = true;
    notifyIn_.ProcNotify("10.0.0.9", 53, "sec.example.", Notify(1, "sec.example."));
    EXPECT_TRUE(Logged("ProcNotify WS Error 101 Network is unreachable"));
    EXPECT_TRUE(net_.udp.empty());
    EXPECT_EQ(client_.State, 0);
}

// ---- Master directory --------------------------------------------------------------------------

class MasterList : public ReplicationTest {
  protected:
    MasterList() : master_(root_ / "master"), list_(store_, root_) {
        fs::create_directories(master_);
        settings_.MasterDir = master_.string();
    }
    void Master(const std::string& name, const std::string& text, double mtime) {
        std::ofstream(master_ / name, std::ios::binary) << text;
        SetTime(master_ / name, mtime);
    }
    static void SetTime(const fs::path& p, double days) {
        const auto sys = std::chrono::sys_seconds(std::chrono::seconds(kest::DaysToUnix(days)));
        fs::last_write_time(p, std::chrono::file_clock::from_sys(sys));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& z : store_.Zones()) names.push_back(z->Name);
        return names;
    }

    fs::path master_;
    modReplication::clMasterList list_;
    const double t1_ = kest::CivilToDays({2026, 3, 1, 8, 0, 0});
    const double t2_ = kest::CivilToDays({2026, 3, 2, 9, 30, 15});
};

TEST_F(MasterList, NewUpdatedAndRemovedZones) {
    Master("a.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\nwww A 10.0.0.1\r\n", t1_);
    Master("_root.dns", ". NS a.root.\r\n", t1_);
    Master("notes.txt", "x", t1_);
    Write("a.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    Write("b.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    store_.LoadAll();
    store_.GetZone("a.com.")->FILETIME = t1_;
    log_.clear();

    list_.MLSync();
    EXPECT_EQ(log_, (std::vector<std::string>{"Synchronizing with \"" + master_.string() + "\"",
                                              "-> New zone: <root>", "-> Removed Zone: b.com."}));
    EXPECT_EQ(Names(), (std::vector<std::string>{".", "a.com."}));
    EXPECT_FALSE(fs::exists(data_ / "b.com.dns"));
    EXPECT_EQ(Read(data_ / "_root.dns"), ". NS a.root.\r\n");
    // a.com. had the same time: not copied (the data folder keeps its own text).
    EXPECT_EQ(Read(data_ / "a.com.dns"), "@ SOA ns1 hm 1 2 3 4 5\r\n");
    EXPECT_EQ(notified_, (std::vector<std::string>{"."}));
    EXPECT_EQ(store_.GetZone(".")->FILETIME, t1_);

    // A new time on a master file: copied and loaded again.
    SetTime(master_ / "a.com.dns", t2_);
    log_.clear();
    list_.MLSync();
    EXPECT_EQ(log_.at(1), "-> Updated zone: a.com.");
    EXPECT_EQ(log_.size(), 2u);
    EXPECT_EQ(store_.GetZone("a.com.")->Records.size(), 2u);
    EXPECT_EQ(store_.GetZone("a.com.")->FILETIME, t2_);
}

TEST_F(MasterList, UnreachableOrEmptyDirectoryChangesNothing) {
    Write("a.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n");
    store_.LoadAll();
    log_.clear();
    list_.MLSync();  // empty
    settings_.MasterDir = (root_ / "missing").string();
    list_.MLSync();
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "** Failed to synchronize!"), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.com."}));
    EXPECT_TRUE(fs::exists(data_ / "a.com.dns"));
}

TEST_F(MasterList, UncleanNamesAreSkippedAndTheDataFolderIsNotCopiedOntoItself) {
    Master("bad name.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n", t1_);
    Master("ok.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n", t1_);
    list_.MLSync();
    EXPECT_EQ(Names(), (std::vector<std::string>{"ok."}));

    settings_.MasterDir = (data_ / "." / "").string();
    Write("d.com.dns", "@ SOA ns1 hm 7 2 3 4 5\r\n");
    list_.MLSync();
    EXPECT_EQ(store_.GetZone("d.com.")->SOASerial, 7u);
    EXPECT_EQ(Read(data_ / "d.com.dns"), "@ SOA ns1 hm 7 2 3 4 5\r\n");
}

TEST_F(MasterList, MlDatKeepsFileTimesAcrossARestart) {
    Master("a.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n", t1_);
    Master("b.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n", t2_);
    list_.MLSync();
    ASSERT_TRUE(list_.MLSave());
    // Written as local date-time text; the clock here has no offset.
    EXPECT_EQ(Read(root_ / "ml.dat"),
              "a.com. 2026-03-01 08:00:00\r\nb.com. 2026-03-02 09:30:15\r\n");

    // A restart: LoadAll then MLLoad; unchanged master files are not copied again.
    std::ofstream(root_ / "ml.dat", std::ios::app) << "b.com. not-a-date\r\nnoblank\r\n";
    store_.LoadAll();
    list_.MLLoad();
    EXPECT_EQ(store_.GetZone("a.com.")->FILETIME, t1_);
    EXPECT_EQ(store_.GetZone("b.com.")->FILETIME, t2_);
    log_.clear();
    list_.MLSync();
    EXPECT_EQ(log_.size(), 1u);  // only "Synchronizing with"
}

TEST_F(MasterList, SyncIsDueAfterMasterSyncMinutesAndZeroReadsAsOne) {
    settings_.MasterSync = 0;
    list_.MLSync();
    EXPECT_FALSE(list_.Due());
    clock_.Advance(59);
    EXPECT_FALSE(list_.Due());
    clock_.Advance(2);
    EXPECT_TRUE(list_.Due());
    settings_.MasterSync = 5;
    EXPECT_FALSE(list_.Due());
}

TEST_F(MasterList, MlDatIsSavedSoonAfterAChange) {
    Master("a.com.dns", "@ SOA ns1 hm 1 2 3 4 5\r\n", t1_);
    list_.MLSync();
    list_.MLSaveIfChanged();
    ASSERT_TRUE(fs::exists(root_ / "ml.dat"));
    fs::remove(root_ / "ml.dat");
    list_.MLSaveIfChanged();
    EXPECT_FALSE(fs::exists(root_ / "ml.dat"));
    SetTime(master_ / "a.com.dns", t2_);
    list_.MLSync();
    list_.MLSaveIfChanged();
    EXPECT_EQ(Read(root_ / "ml.dat"), "a.com. 2026-03-02 09:30:15\r\n");
}

}  // namespace
}  // namespace reptest
