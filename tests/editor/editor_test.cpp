// The editor's settings files, saving with the serial rule, the datagrams to the server and the
// pending PTR merge.
#include "editor/editor.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/instance_lock.h"
#include "tests/editor/editor_fixture.h"

using namespace editor;
using Lines = std::vector<std::string>;

namespace {

class EditorTest : public ::testing::Test, protected kest::test::EditorFixture {
  protected:
    std::string Zone(const std::string& serial) {
        return "@ 3600 SOA ns1 hostmaster " + serial +
               " 3600 600 86400 3600\r\n"
               "www 3600 A 10.0.0.1\r\n";
    }
    // The serial now on file.
    std::string SerialOnFile(const std::string& file) {
        const std::string text = ReadFile("data/" + file);
        const size_t at = text.find("@ ");
        std::string first = text.substr(at, text.find("\r\n", at) - at);
        for (int i = 0; i < 5; ++i) NextWord(first);
        return NextWord(first);
    }
};

TEST_F(EditorTest, ServerSettingsLastLineWinsAndDefaultsStand) {
    ed.LoadServerSettings();
    EXPECT_EQ(ed.Server.PrimaryIP, "127.0.0.1");
    EXPECT_EQ(ed.Server.ReloadPort, 0);
    EXPECT_EQ(ed.Server.DNSPort, 53);
    WriteFile("kestrund.ini",
              "Name: NS1.Example.COM.\r\nReloadPort: 1\r\nreloadport :  40123 \r\n"
              "PrimaryIP: 10.0.0.5\r\nDNSPort: 5353\r\nMasterDir: /srv/master\r\nnocolon\r\n");
    ed.LoadServerSettings();
    EXPECT_EQ(ed.Server.Name, "ns1.example.com");
    EXPECT_EQ(ed.Server.ReloadPort, 40123);
    EXPECT_EQ(ed.Server.PrimaryIP, "10.0.0.5");
    EXPECT_EQ(ed.Server.DNSPort, 5353);
    EXPECT_EQ(ed.Server.MasterDir, "/srv/master");
    EXPECT_FALSE(ed.MayEdit());
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text,
              "This server is currently configured to copy\nZone files from another directory!");
    EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Information);
    WriteFile("kestrund.ini", "MasterDir:\r\n");
    ed.LoadServerSettings();
    EXPECT_TRUE(ed.MayEdit());
}

TEST_F(EditorTest, EditorSettingsReadAndWritten) {
    WriteFile("kestzone.ini",
              "Default: 0 zero\r\nDEFAULT: 14 fourteen\r\ndefault:  6  ns1.example.com.\r\n"
              "Default: 12 10.0.0.2 10.0.0.3 \r\nDefault: x 1\r\n"
              "Reverse: 0/25.1.168.192.in-addr.arpa. 192.168.1.0/25\r\nOther: 1\r\n");
    ed.LoadEditorSettings();
    EXPECT_EQ(ed.Defaults[6], "ns1.example.com.");
    EXPECT_EQ(ed.Defaults[12], "10.0.0.2 10.0.0.3");
    EXPECT_EQ(ed.Defaults[0], "");
    EXPECT_EQ(ed.Defaults[8], "3600");
    EXPECT_EQ(ed.ReverseMappings, (Lines{"0/25.1.168.192.in-addr.arpa. 192.168.1.0/25"}));
    ASSERT_TRUE(ed.SaveEditorSettings());
    EXPECT_EQ(ReadFile("kestzone.ini"),
              "Default: 6 ns1.example.com.\r\nDefault: 8 3600\r\nDefault: 9 86400\r\n"
              "Default: 10 3600\r\nDefault: 11 777600\r\nDefault: 12 10.0.0.2 10.0.0.3\r\n"
              "Default: 13 1\r\nReverse: 0/25.1.168.192.in-addr.arpa. 192.168.1.0/25\r\n");
}

TEST_F(EditorTest, SerialMovesToTodayOrByOneAndTypedSerialsStay) {
    struct Case {
        const char* before;
        int day;
        const char* after;
    } cases[] = {
        {"2000010101", 6, "2026120601"},
        {"2026120601", 6, "2026120602"},
        {"2026120699", 7, "2026120701"},
        {"2026120799", 7, "2026120800"},  // past today's 99: by one all the same
        {"4294967295", 7, "0"},           // the unsigned serial wraps
    };
    for (const auto& c : cases) {
        WriteFile("data/example.com.dns", Zone(c.before));
        clock.Set(kest::CivilToDays({2026, 12, c.day, 12, 0, 0}));
        ed.LoadZone("example.com");
        ed.Zone.Records[0].TTL = 60;
        ed.ZoneChanged = true;
        ASSERT_TRUE(ed.CommitZone());
        EXPECT_EQ(SerialOnFile("example.com.dns"), c.after) << c.before;
        EXPECT_FALSE(ed.ZoneChanged);
    }
    // A serial set by hand is written as it is.
    ed.LoadZone("example.com");
    ed.Zone.Serial = 17;
    ed.ZoneChanged = true;
    ed.CommitZone();
    EXPECT_EQ(SerialOnFile("example.com.dns"), "17");
    // Nothing changed: nothing written.
    WriteFile("data/example.com.dns", Zone("5"));
    ed.LoadZone("example.com");
    ed.CommitZone();
    EXPECT_EQ(SerialOnFile("example.com.dns"), "5");
    // A secondary zone keeps its serial.
    WriteFile("data/sec.org.dns", "; PrimaryIP 10.0.0.1\r\n" + Zone("2000010101"));
    ed.LoadZone("sec.org");
    ed.ZoneChanged = true;
    ed.CommitZone();
    EXPECT_EQ(SerialOnFile("sec.org.dns"), "2000010101");
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(EditorTest, ReloadDatagramGoesToThePortPublishedNow) {
    WriteFile("data/example.com.dns", Zone("1"));
    ed.LoadZone("example.com");
    ed.ZoneChanged = true;
    ed.CommitZone();
    EXPECT_TRUE(sender.sent.empty());  // no ReloadPort: the server is never signalled

    WriteFile("kestrund.ini", "ReloadPort: 40001\r\n");
    ed.LoadServerSettings();
    ed.ZoneChanged = true;
    ed.CommitZone();
    // The server restarted on another port since the editor read its settings.
    WriteFile("kestrund.ini", "Name: x\r\nReloadPort: 40002\r\n");
    ed.ZoneChanged = true;
    ed.CommitZone();
    ed.SignalServer("unload ", "example.com.");
    using Sent = std::vector<std::pair<std::string, uint16_t>>;
    EXPECT_EQ(sender.sent, (Sent{{"reload example.com.", 40001},
                                 {"reload example.com.", 40002},
                                 {"unload example.com.", 40002}}));
}

TEST_F(EditorTest, FailedWritesAreShownKeepTheChangeAndSendNothing) {
    WriteFile("kestrund.ini", "ReloadPort: 40001\r\n");
    ed.LoadZone("new.org");  // missing: an empty zone, no message
    EXPECT_TRUE(ed.ZoneEditable());
    EXPECT_TRUE(prompt.boxes.empty());
    // Something in the way of the file: the rename cannot replace a folder.
    std::filesystem::create_directory(dir.path() / "data/new.org.dns");
    ed.Zone.PrimServ = "ns1.new.org.";
    ed.ZoneChanged = true;
    const uint32_t serial = ed.Zone.Serial;
    EXPECT_FALSE(ed.CommitZone());
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.Zone.Serial, serial);
    EXPECT_TRUE(sender.sent.empty());
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Error);
    EXPECT_NE(prompt.boxes[0].text.find("Could not save the zone file"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "data"), {}), 1);
    // Once the way is clear the next save goes through.
    std::filesystem::remove(dir.path() / "data/new.org.dns");
    EXPECT_TRUE(ed.CommitZone());
    EXPECT_EQ(sender.sent.size(), 1u);

    // Deleting: a missing file is no failure; one that cannot go is shown.
    EXPECT_TRUE(ed.DeleteZoneFile("gone.org"));
    std::filesystem::create_directories(dir.path() / "data/full.org.dns/x");
    EXPECT_FALSE(ed.DeleteZoneFile("full.org"));
    EXPECT_NE(prompt.boxes.back().text.find("Could not delete the zone file"), std::string::npos);
}

TEST_F(EditorTest, AFileThatCannotBeReadIsShownAndNeverWritten) {
    std::filesystem::create_symlink(dir.path() / "data/elsewhere", dir.path() / "data/bad.org.dns");
    ed.LoadZone("bad.org");
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Warning);
    EXPECT_FALSE(ed.ZoneEditable());
    ed.ZoneChanged = true;
    EXPECT_FALSE(ed.CommitZone());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "data/bad.org.dns"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data/elsewhere"));
}

TEST_F(EditorTest, PendingPTRMergedIntoItsZoneOnly) {
    WriteFile("data/1.168.192.in-addr.arpa.dns",
              "5 3600 PTR old.example.com.\r\n 3600 PTR other.example.com.\r\n"
              "6 3600 PTR six.example.com.\r\n 7200 TXT \"kept\"\r\n");
    ed.PendingPTR = {"2.168.192.in-addr.arpa 9 pc9.example.com",
                     "1.168.192.in-addr.arpa 5 pc1.example.com",
                     "1.168.192.in-addr.arpa 6 pc6.example.com"};
    ed.LoadZone("1.168.192.in-addr.arpa");
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.PendingPTR, (Lines{"2.168.192.in-addr.arpa 9 pc9.example.com"}));
    Lines got;
    for (const auto& r : ed.Zone.Records)
        got.push_back(r.Name + " " + std::to_string(r.TTL) + " " + TypeName(r.RecType) + " " +
                      (r.RecType == kPTR ? r.Data : TxtStrings(r.Data)[0]));
    EXPECT_EQ(got, (Lines{"5.1.168.192.in-addr.arpa. 3600 PTR pc1.example.com.",
                          "6.1.168.192.in-addr.arpa. 7200 TXT kept",
                          "6.1.168.192.in-addr.arpa. 3600 PTR pc6.example.com."}));
    // Not into a secondary zone.
    WriteFile("data/2.168.192.in-addr.arpa.dns", "; PrimaryIP 10.0.0.1\r\n");
    ed.LoadZone("2.168.192.in-addr.arpa");
    EXPECT_FALSE(ed.ZoneChanged);
    EXPECT_EQ(ed.PendingPTR.size(), 1u);
}

TEST(InstanceLock, OneHolderPerFileAndAStaleFileDoesNotBlock) {
    kest::test::TempDir dir;
    const auto file = dir.path() / "data" / "kestzone.lock";
    {
        platform::InstanceLock first;
        ASSERT_TRUE(first.Acquire(file));
        // Another open of the file (as another process would have) is refused while it is held.
        platform::InstanceLock second;
        EXPECT_FALSE(second.Acquire(file));
        // Another program folder has a lock of its own.
        platform::InstanceLock other;
        EXPECT_TRUE(other.Acquire(dir.path() / "other" / "data" / "kestzone.lock"));
    }
    // The file is still there, held by no one.
    EXPECT_TRUE(std::filesystem::exists(file));
    platform::InstanceLock again;
    EXPECT_TRUE(again.Acquire(file));
    again.Release();

    // Another process holds it until it dies; its lock file then blocks nobody.
    int ready[2], hold[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::InstanceLock held;
        const char ok = held.Acquire(file) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(hold[0], &c, 1);  // until the parent has looked
        ::_exit(0);                     // no clean-up: the kernel drops the lock
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    platform::InstanceLock blocked;
    EXPECT_FALSE(blocked.Acquire(file));
    (void)!::write(hold[1], "x", 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(blocked.Acquire(file));
    for (int fd : {ready[0], ready[1], hold[0], hold[1]}) ::close(fd);
}

}  // namespace
