// The options dialog's controller without a display: fields filled from the settings, the
// normalisations and choices, every check of "O K" with its text, tab and focus, and the order
// in which the applying reaches the server, the service manager and the start-up entry.
#include "server/options/frmOptions.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/server/options/options_fakes.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using modOptions::frmOptions;
using modOptions::Tab;
using Outcome = frmOptions::Outcome;
using kest::test::CallLog;
using kest::test::RecordingService;
using kest::test::RecordingStartup;
using kest::test::RecordingTarget;

class OptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        target_.programDir = dir_.path();
        std::filesystem::create_directories(dir_.path() / "data");
        target_.settings.Name = "ns1";
        // A recording fake has no prompt boxes to show: they are recorded.
    }

    frmOptions& Open() {
        form_ = std::make_unique<frmOptions>(target_, service_, startup_, &prompt_, &launcher_);
        form_->Load();
        return *form_;
    }

    // Fills the selected interface (the first, 192.168.1.5) with a scope that passes.
    static void GoodScope(frmOptions& f) {
        f.chkDHCP = true;
        f.txtDomain = "lan.example";
        f.ipFrom = "192.168.1.100";
        f.ipTo = "192.168.1.150";
        f.ipMask = "255.255.255.0";
        f.ipGateway = "192.168.1.1";
        f.ttlLease = 86400;
    }

    // Calls after the given one, for order checks.
    std::vector<std::string> Calls() const { return log_.calls; }

    kest::test::TempDir dir_;
    CallLog log_;
    RecordingTarget target_{log_};
    RecordingService service_{log_};
    RecordingStartup startup_{log_};
    kest::test::RecordingPrompt prompt_;
    kest::test::RecordingLauncher launcher_;
    std::unique_ptr<frmOptions> form_;
};

TEST_F(OptionsTest, LoadShowsEverySettingAndApplyingWritesItBack) {
    modMain::Settings& s = target_.settings;
    s.DNSBind = "10.1.2.3";
    s.PrimaryIP = "10.1.2.3";  // as reading the file leaves it
    s.DNSPort = 5353;
    s.StartMini = true;
    s.WriteLog = true;
    s.LogDetail = false;
    s.LogInOnly = true;
    s.LogBlock = false;
    s.DNSRecursion = "10.1.*.*";
    s.MinTimeOut = 4;
    s.SpoofSecure = true;
    s.AutoCNAME = true;
    s.RecursionOut = true;
    s.NS = {"10.0.0.53", "10.0.0.54"};
    s.MasterDir = (dir_.path() / "master").string();
    s.MasterSync = 15;
    const std::filesystem::path hosts = dir_.path() / "hosts";
    std::ofstream(hosts) << "127.0.0.1 localhost\n";
    s.Hosts = hosts.string();
    s.HostsTTL = 7200;
    s.CacheTTL = 600;
    s.CacheReload = true;
    s.BombLevel = 40;
    s.NoBlock = {"192.168.1.9"};
    s.DHCP = {{"192.168.1.5", "lan.example.", "192.168.1.100", "192.168.1.150", "255.255.255.0",
               "0.0.0.0", 3600, true}};
    target_.blocks = {"10.6.6.6"};

    frmOptions& f = Open();
    EXPECT_EQ(f.txtName, "ns1");
    EXPECT_TRUE(f.chkBind);
    EXPECT_EQ(f.comBind, "10.1.2.3");
    EXPECT_EQ(f.txtPort, "5353");
    EXPECT_FALSE(f.chkService);
    EXPECT_TRUE(f.chkStartMini);
    EXPECT_TRUE(f.chkLog);
    EXPECT_FALSE(f.chkDetail);
    EXPECT_FALSE(f.chkOut);
    EXPECT_FALSE(f.chkLogBlock);
    EXPECT_EQ(f.comRecur, "10.1.*.*");
    EXPECT_EQ(f.txtMinTO, "4");
    EXPECT_TRUE(f.chkSpoof && f.chkCNAME && f.chkForward);
    EXPECT_EQ(f.NS.Items, s.NS);
    EXPECT_EQ(f.txtSync, "15");
    EXPECT_EQ(f.ttlHosts, 7200);
    EXPECT_EQ(f.ttlCache, 600);
    EXPECT_EQ(f.txtBomb, "40");
    EXPECT_EQ(f.Blocked.Items, target_.blocks);
    EXPECT_EQ(f.NoBlock.Items, s.NoBlock);
    // One interface per address of the machine; the configured one shows its scope, and the
    // written "0.0.0.0" gateway is an empty entry.
    ASSERT_EQ(f.Interfaces.size(), 3u);
    EXPECT_EQ(f.comIF, 0);
    EXPECT_TRUE(f.chkDHCP);
    EXPECT_EQ(f.txtDomain, "lan.example");
    EXPECT_EQ(f.ipFrom, "192.168.1.100");
    EXPECT_EQ(f.ipGateway, "");
    EXPECT_EQ(f.ttlLease, 3600);
    EXPECT_FALSE(f.Interfaces[1].Enable);

    const modMain::Settings before = s;
    ASSERT_EQ(f.OK(), Outcome::Closed);
    // Nothing was changed, so everything reads back the same.
    EXPECT_EQ(target_.settings, before);
    ASSERT_EQ(target_.saved.size(), 1u);
    EXPECT_EQ(target_.saved[0], before);
    EXPECT_EQ(target_.blocks, std::vector<std::string>{"10.6.6.6"});
    EXPECT_EQ(target_.tip, "ns1");
    EXPECT_EQ(target_.caption, "ns1 - Kestrune");
}

TEST_F(OptionsTest, NumericFieldsAreNormalisedWhenTheyLoseTheFocus) {
    frmOptions& f = Open();
    const struct {
        const char* control;
        std::string frmOptions::*field;
        const char* typed;
        const char* shown;
    } cases[] = {
        {"txtBomb", &frmOptions::txtBomb, "-7.9", "7"},
        {"txtBomb", &frmOptions::txtBomb, "0", ""},
        {"txtBomb", &frmOptions::txtBomb, "abc", ""},
        {"txtBomb", &frmOptions::txtBomb, "99999", "32767"},
        {"txtMinTO", &frmOptions::txtMinTO, "0.5", ""},
        {"txtMinTO", &frmOptions::txtMinTO, " 12 s", "12"},
        {"txtSync", &frmOptions::txtSync, "0", "60"},
        {"txtSync", &frmOptions::txtSync, "-15.2", "15"},
        {"txtPort", &frmOptions::txtPort, "0", "53"},
        {"txtPort", &frmOptions::txtPort, "5300", "5300"},
    };
    for (const auto& c : cases) {
        f.*(c.field) = c.typed;
        f.LostFocus(c.control);
        EXPECT_EQ(f.*(c.field), c.shown) << c.control << " typed " << c.typed;
    }
}

TEST_F(OptionsTest, TypedNumbersAreStoredNormalisedEvenWithoutLeavingTheField) {
    frmOptions& f = Open();
    f.txtBomb = "-7.9";
    f.txtSync = "0";
    f.txtMinTO = "-3";
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(target_.settings.BombLevel, 7);
    EXPECT_EQ(target_.settings.MasterSync, 60);
    EXPECT_EQ(target_.settings.MinTimeOut, 3);
    EXPECT_EQ(f.txtBomb, "7");
}

TEST_F(OptionsTest, StartUpChoicesWorkTogether) {
    frmOptions& f = Open();
    f.chkStartWin = true;
    f.StartWinClick();
    f.chkService = true;
    f.ServiceClick();
    EXPECT_FALSE(f.chkStartWin);
    EXPECT_TRUE(f.chkStartMini);
    // Minimised cannot be cleared while the service is chosen.
    f.chkStartMini = false;
    f.StartMiniClick();
    EXPECT_TRUE(f.chkStartMini);
    // Log-on start clears the service; minimised may be cleared after that.
    f.chkStartWin = true;
    f.StartWinClick();
    EXPECT_FALSE(f.chkService);
    f.chkStartMini = false;
    f.StartMiniClick();
    EXPECT_FALSE(f.chkStartMini);
    // Clearing the service changes nothing else.
    f.chkService = false;
    f.ServiceClick();
    EXPECT_TRUE(f.chkStartWin);
}

TEST_F(OptionsTest, RecursionChoicesFollowTheBindChoice) {
    const std::vector<std::string> all{"<all>",     "192.*.*.*", "192.168.*.*", "192.168.1.*",
                                       "10.*.*.*",  "10.1.*.*",  "10.1.2.*",    "127.*.*.*",
                                       "127.0.*.*", "127.0.0.*", "<none>"};
    EXPECT_EQ(frmOptions::RecursionChoices(target_.ips, false, "10.1.2.3"), all);
    EXPECT_EQ(frmOptions::RecursionChoices(target_.ips, true, "10.1.2.3"),
              (std::vector<std::string>{"<all>", "10.*.*.*", "10.1.*.*", "10.1.2.*", "<none>"}));
    // Bound to the loopback address, every address of the machine gives its patterns.
    EXPECT_EQ(frmOptions::RecursionChoices(target_.ips, true, "127.0.0.1"), all);
    EXPECT_EQ(frmOptions::RecursionChoices({}, false, ""),
              (std::vector<std::string>{"<all>", "<none>"}));

    frmOptions& f = Open();
    EXPECT_EQ(f.RecurChoices, all);
    f.comRecur = "10.1.*.*";
    f.chkBind = true;
    f.comBind = "10.1.2.3";
    f.BindChanged();
    EXPECT_EQ(f.comRecur, "10.1.*.*");  // still offered
    f.comBind = "192.168.1.5";
    f.BindChanged();
    EXPECT_EQ(f.RecurChoices.size(), 5u);
    EXPECT_EQ(f.comRecur, "<all>");  // gone: the first entry
}

TEST_F(OptionsTest, AStoredRecursionChoiceTheMachineNoLongerGivesStaysOffered) {
    target_.settings.DNSRecursion = "172.16.*.*";
    frmOptions& f = Open();
    EXPECT_EQ(f.comRecur, "172.16.*.*");
    EXPECT_EQ(f.RecurChoices.back(), "<none>");
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(target_.settings.DNSRecursion, "172.16.*.*");
}

TEST_F(OptionsTest, AddressListsAddOnceAndRemoveTheSelected) {
    frmOptions& f = Open();
    f.Blocked.Entry = "10.0.0.7";
    f.Blocked.Add();
    f.Blocked.Entry = "010.000.000.007";  // the same address
    f.Blocked.Add();
    f.Blocked.Entry = "";
    f.Blocked.Add();
    f.Blocked.Entry = "10.0.0.8";
    f.Blocked.Add();
    EXPECT_EQ(f.Blocked.Items, (std::vector<std::string>{"10.0.0.7", "10.0.0.8"}));
    EXPECT_EQ(f.Blocked.Entry, "");
    f.Blocked.Selected = 0;
    f.Blocked.Remove();
    EXPECT_EQ(f.Blocked.Items, std::vector<std::string>{"10.0.0.8"});
    f.Blocked.Selected = -1;
    f.Blocked.Remove();
    EXPECT_EQ(f.Blocked.Items.size(), 1u);

    f.NoBlock.Entry = "192.168.1.9";
    f.NoBlock.Add();
    f.chkForward = true;
    f.NS.Entry = "10.0.0.53";
    f.NS.Add();
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(target_.blocks, std::vector<std::string>{"10.0.0.8"});
    EXPECT_EQ(target_.settings.NoBlock, std::vector<std::string>{"192.168.1.9"});
    EXPECT_EQ(target_.settings.NS, std::vector<std::string>{"10.0.0.53"});
}

// One failing dialog per check of "O K": its box, tab and focus, and nothing applied.
TEST_F(OptionsTest, EveryCheckStopsWithItsTextTabAndFocus) {
    const std::filesystem::path hosts = dir_.path() / "hosts";
    std::ofstream(hosts) << "\n";
    struct Case {
        const char* what;
        std::function<void(frmOptions&)> enter;
        Tab tab;
        const char* focus;
        const char* text;
        int interfaceShown = 0;
    };
    const std::vector<Case> cases = {
        {"no name", [](frmOptions& f) { f.txtName = "  "; }, Tab::General, "txtName",
         "Please enter server name!"},
        {"forwarding, no server", [](frmOptions& f) { f.chkForward = true; }, Tab::Resolution,
         "ipNS", "Please add at least one external DNS server\nIP Address to use forwarding!"},
        {"missing hosts file",
         [&](frmOptions& f) { f.txtHosts = (dir_.path() / "nohosts").string(); }, Tab::Records,
         "txtHosts", "The specified 'Hosts' file does not exist!"},
        {"hosts path is a folder", [&](frmOptions& f) { f.txtHosts = dir_.path().string(); },
         Tab::Records, "txtHosts", "The specified 'Hosts' file does not exist!"},
        {"no domain", [](frmOptions& f) { f.txtDomain = ""; }, Tab::DHCP, "txtDomain",
         "Please enter domain name for DHCP!"},
        {"no from", [](frmOptions& f) { f.ipFrom = ""; }, Tab::DHCP, "ipFrom",
         "Please enter from and to IP-Addresses!"},
        {"no to", [](frmOptions& f) { f.ipTo = "0.0.0.0"; }, Tab::DHCP, "ipTo",
         "Please enter from and to IP-Addresses!"},
        {"mask with a hole", [](frmOptions& f) { f.ipMask = "255.0.255.0"; }, Tab::DHCP, "ipMask",
         "Invalid subnet mask for DHCP!"},
        {"mask leaves no host part", [](frmOptions& f) { f.ipMask = "255.255.255.255"; }, Tab::DHCP,
         "ipMask", "Invalid subnet mask for DHCP!"},
        {"from outside", [](frmOptions& f) { f.ipFrom = "192.168.2.100"; }, Tab::DHCP, "ipFrom",
         "DHCP IP-Addresses must be on the same subnet as interface!"},
        {"to outside", [](frmOptions& f) { f.ipTo = "10.1.2.9"; }, Tab::DHCP, "ipTo",
         "DHCP IP-Addresses must be on the same subnet as interface!"},
        {"from is the network", [](frmOptions& f) { f.ipFrom = "192.168.1.0"; }, Tab::DHCP,
         "ipFrom", "Invalid DHCP From IP-Address!"},
        {"to is the broadcast", [](frmOptions& f) { f.ipTo = "192.168.1.255"; }, Tab::DHCP, "ipTo",
         "Invalid DHCP To IP-Address!"},
        {"gateway outside", [](frmOptions& f) { f.ipGateway = "192.168.7.1"; }, Tab::DHCP,
         "ipGateway", "DHCP Gateway must be on the same subnet as interface!"},
        {"gateway is the broadcast", [](frmOptions& f) { f.ipGateway = "192.168.1.255"; },
         Tab::DHCP, "ipGateway", "Invalid DHCP default gateway IP-Address!"},
        {"no lease period", [](frmOptions& f) { f.ttlLease = 0; }, Tab::DHCP, "ttlLease",
         "The Lease Period cannot be zero!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log_.calls.clear();
        prompt_.boxes.clear();
        target_.saved.clear();
        const modMain::Settings before = target_.settings;
        frmOptions& f = Open();
        f.txtHosts = hosts.string();
        GoodScope(f);
        c.enter(f);
        EXPECT_EQ(f.OK(), Outcome::Stay);
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].text, c.text);
        EXPECT_EQ(prompt_.boxes[0].icon, platform::IPrompt::Icon::Warning);
        EXPECT_EQ(f.CurrentTab, c.tab);
        EXPECT_EQ(f.Focus, c.focus);
        EXPECT_EQ(f.comIF, c.interfaceShown);
        EXPECT_TRUE(Calls().empty());
        EXPECT_EQ(target_.settings, before);
    }
}

TEST_F(OptionsTest, ChecksRunInTheirOrder) {
    frmOptions& f = Open();
    f.txtName = "";
    f.chkForward = true;
    f.txtHosts = (dir_.path() / "nohosts").string();
    f.chkDHCP = true;  // and nothing else entered for it
    const auto next = [&] {
        prompt_.boxes.clear();
        EXPECT_EQ(f.OK(), Outcome::Stay);
        return prompt_.boxes.empty() ? std::string() : prompt_.boxes[0].text;
    };
    EXPECT_EQ(next(), "Please enter server name!");
    f.txtName = "ns1";
    EXPECT_EQ(next(), "Please add at least one external DNS server\nIP Address to use forwarding!");
    f.chkForward = false;
    EXPECT_EQ(next(), "The specified 'Hosts' file does not exist!");
    f.txtHosts = "";
    EXPECT_EQ(next(), "Please enter domain name for DHCP!");
}

TEST_F(OptionsTest, ALaterFailingInterfaceIsSelectedAndShown) {
    target_.ips = {"192.168.1.5", "10.1.2.3"};
    frmOptions& f = Open();
    GoodScope(f);
    f.SelectInterface(1);
    f.chkDHCP = true;
    f.txtDomain = "ten.example";
    f.ipFrom = "10.1.2.50";
    f.ipTo = "";
    f.SelectInterface(0);
    EXPECT_EQ(f.txtDomain, "lan.example");
    EXPECT_EQ(f.OK(), Outcome::Stay);
    EXPECT_EQ(f.comIF, 1);
    EXPECT_EQ(f.txtDomain, "ten.example");
    EXPECT_EQ(f.Focus, "ipTo");
    EXPECT_EQ(f.CurrentTab, Tab::DHCP);
}

TEST_F(OptionsTest, EmptyMasksTakeTheDefaultOfTheAddressClass) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"10.0.0.1", "255.0.0.0"},     {"125.3.3.3", "255.0.0.0"},   {"126.0.0.1", "255.255.0.0"},
        {"172.16.0.1", "255.255.0.0"}, {"191.1.1.1", "255.255.0.0"}, {"192.0.2.1", "255.255.255.0"},
        {"200.1.1.1", "255.255.255.0"}};
    for (const auto& [ip, mask] : cases) {
        SCOPED_TRACE(ip);
        target_.ips = {ip};
        target_.settings.DHCP.clear();
        frmOptions& f = Open();
        EXPECT_EQ(f.ipMask, mask);  // shown when the interface is shown
        // Emptied by the user, filled again by "O K" with a scope that only fits that mask.
        const std::string data = ip.substr(0, ip.rfind('.'));
        f.chkDHCP = true;
        f.txtDomain = "x.example";
        f.ipMask = "";
        f.ipFrom = data + ".20";
        f.ipTo = data + ".30";
        f.ttlLease = 600;
        ASSERT_EQ(f.OK(), Outcome::Closed);
        ASSERT_EQ(target_.settings.DHCP.size(), 1u);
        EXPECT_EQ(target_.settings.DHCP[0].Subnet, mask);
    }
}

TEST_F(OptionsTest, AReversedScopeIsSwappedAndTheEntryWrittenInSettingsForm) {
    frmOptions& f = Open();
    GoodScope(f);
    f.txtDomain = "Lan.Example.";
    f.ipFrom = "192.168.1.150";
    f.ipTo = "192.168.1.20";
    f.ipGateway = "";
    ASSERT_EQ(f.OK(), Outcome::Closed);
    ASSERT_EQ(target_.settings.DHCP.size(), 1u);
    const modMain::DHCPEntry& e = target_.settings.DHCP[0];
    EXPECT_EQ(e.IPaddr, "192.168.1.5");
    EXPECT_EQ(e.Domain, "lan.example.");
    EXPECT_EQ(e.ScopeFrom, "192.168.1.20");
    EXPECT_EQ(e.ScopeTo, "192.168.1.150");
    EXPECT_EQ(e.Gateway, "0.0.0.0");
    EXPECT_EQ(e.TTL, 86400);
    // 10.0.0.100 to 10.0.0.50 compares by bits, not by text.
    target_.ips = {"10.0.0.1"};
    frmOptions& g = Open();
    g.chkDHCP = true;
    g.txtDomain = "ten";
    g.ipFrom = "10.0.0.100";
    g.ipTo = "10.0.0.50";
    g.ttlLease = 60;
    ASSERT_EQ(g.OK(), Outcome::Closed);
    EXPECT_EQ(target_.settings.DHCP[0].ScopeFrom, "10.0.0.50");
    EXPECT_EQ(target_.settings.DHCP[0].ScopeTo, "10.0.0.100");
}

TEST_F(OptionsTest, InterfacesTheMachineNoLongerHasAreKeptUnchanged) {
    const modMain::DHCPEntry gone{"10.9.9.1",      "old.example.", "10.9.9.10", "10.9.9.20",
                                  "255.255.255.0", "10.9.9.254",   7200,        true};
    target_.settings.DHCP = {gone};
    frmOptions& f = Open();
    EXPECT_EQ(f.Interfaces.size(), 3u);  // the machine's addresses only
    GoodScope(f);
    ASSERT_EQ(f.OK(), Outcome::Closed);
    ASSERT_EQ(target_.settings.DHCP.size(), 2u);
    EXPECT_EQ(target_.settings.DHCP[0].IPaddr, "192.168.1.5");
    EXPECT_EQ(target_.settings.DHCP[1], gone);
    EXPECT_EQ(target_.saved.back().DHCP[1], gone);
}

TEST_F(OptionsTest, ADisabledInterfaceLeavesTheList) {
    target_.settings.DHCP = {{"192.168.1.5", "lan.example.", "192.168.1.100", "192.168.1.150",
                              "255.255.255.0", "0.0.0.0", 3600, true}};
    frmOptions& f = Open();
    f.chkDHCP = false;
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_TRUE(target_.settings.DHCP.empty());
}

TEST_F(OptionsTest, TheOwnDataFolderAsMasterDirectoryIsCleared) {
    for (const std::string& typed :
         {(dir_.path() / "data").string(), (dir_.path() / "data").string() + "/",
          (dir_.path() / "DATA").string(), (dir_.path() / "x" / ".." / "data").string()}) {
        SCOPED_TRACE(typed);
        frmOptions& f = Open();
        f.txtCopy = typed;
        ASSERT_EQ(f.OK(), Outcome::Closed);
        EXPECT_TRUE(prompt_.boxes.empty());
        EXPECT_EQ(target_.settings.MasterDir, "");
        EXPECT_NE(log_.calls.back(), "MLSync");
        log_.calls.clear();
    }
    frmOptions& f = Open();
    f.txtCopy = (dir_.path() / "master").string();
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(target_.settings.MasterDir, (dir_.path() / "master").string());
    EXPECT_EQ(log_.calls.back(), "MLSync");
}

TEST_F(OptionsTest, ApplyingARunningServerRestartsItAfterWritingTheSettings) {
    target_.settings.StartWin = false;
    frmOptions& f = Open();
    f.txtName = "My Server";
    f.chkBind = true;
    f.comBind = "10.1.2.3";
    f.txtPort = "5300";
    f.chkStartWin = true;
    f.StartWinClick();
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"SetTrayTip", "SetCaption", "SetBlocks", "SaveINI",
                                                 "Autostart set", "PauseServer", "Pump",
                                                 "StartServer", "SaveBlocks", "LoadPerm"}));
    EXPECT_EQ(target_.tip, "myserver");
    EXPECT_EQ(target_.caption, "myserver - Kestrune");
    EXPECT_EQ(target_.starts, (std::vector<std::pair<std::string, int32_t>>{{"10.1.2.3", 5300}}));
    const modMain::Settings& saved = target_.saved.at(0);
    EXPECT_EQ(saved.DNSBind, "10.1.2.3");
    EXPECT_EQ(saved.PrimaryIP, "10.1.2.3");
    EXPECT_EQ(saved.DNSPort, 5300);
    EXPECT_TRUE(saved.StartWin);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(OptionsTest, APausedServerStaysPausedAndTheStartUpEntryGoesWithoutLogOnStart) {
    target_.running = false;
    target_.settings.StartWin = true;
    target_.settings.MasterDir = (dir_.path() / "m").string();
    frmOptions& f = Open();
    f.chkStartWin = false;
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{"SetTrayTip", "SetCaption", "SetBlocks", "SaveINI",
                                        "Autostart removed", "SaveBlocks", "LoadPerm", "MLSync"}));
}

TEST_F(OptionsTest, AStartUpEntryThatCannotBeWrittenIsReported) {
    startup_.succeed = false;
    frmOptions& f = Open();
    f.chkStartWin = true;
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Could not write the start-up entry!"});
    EXPECT_TRUE(target_.saved.at(0).StartWin);  // the choice is kept for the next try
    EXPECT_EQ(Calls().back(), "LoadPerm");
}

TEST_F(OptionsTest, InstallingTheServiceShutsDownBeforeTheUnitStarts) {
    target_.settings.StartWin = true;
    frmOptions& f = Open();
    f.chkService = true;
    f.ServiceClick();
    ASSERT_EQ(f.OK(), Outcome::ProgramEnds);
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "SetTrayTip", "SetCaption", "Install kestrund Kestrune", "SetBlocks",
                           "SaveINI", "Autostart removed", "HideMainWindow", "PauseServer",
                           "RemoveTray", "CloseDown", "Start kestrund"}));
    EXPECT_EQ(prompt_.Texts(),
              std::vector<std::string>{
                  "NT System Service Installed!\n\nKestrune will now be restarted."});
    const modMain::Settings& saved = target_.saved.at(0);
    EXPECT_TRUE(saved.NTService);
    EXPECT_FALSE(saved.StartWin);
    EXPECT_TRUE(saved.StartMini);
}

TEST_F(OptionsTest, RemovingTheServiceEndsTheProgramWithItsMessage) {
    service_.installed = true;
    frmOptions& f = Open();
    EXPECT_TRUE(f.chkService);
    f.chkService = false;
    f.ServiceClick();
    ASSERT_EQ(f.OK(), Outcome::ProgramEnds);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"SetTrayTip", "SetCaption", "Uninstall kestrund",
                                                 "SetBlocks", "SaveINI", "Autostart removed",
                                                 "HideMainWindow", "PauseServer", "RemoveTray",
                                                 "CloseDown"}));
    EXPECT_EQ(prompt_.Texts(),
              std::vector<std::string>{"NT System Service Un-Installed!\n\nPlease restart Kestrune "
                                       "from the applications menu."});
    EXPECT_FALSE(target_.saved.at(0).NTService);
}

TEST_F(OptionsTest, AFailedServiceChangeIsReportedAndTheServerGoesOn) {
    service_.succeed = false;
    frmOptions& f = Open();
    f.chkService = true;
    f.ServiceClick();
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Failed to Install NT System Service!"});
    EXPECT_FALSE(target_.saved.at(0).NTService);
    EXPECT_EQ(Calls().back(), "LoadPerm");
    EXPECT_NE(std::find(Calls().begin(), Calls().end(), "StartServer"), Calls().end());
    ASSERT_FALSE(target_.lines.empty());
    EXPECT_NE(target_.lines[0].find("Access denied"), std::string::npos);

    prompt_.boxes.clear();
    service_.installed = true;
    frmOptions& g = Open();
    g.chkService = false;
    ASSERT_EQ(g.OK(), Outcome::Closed);
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Failed to Remove NT System Service!"});
    EXPECT_TRUE(target_.saved.back().NTService);
}

TEST_F(OptionsTest, AnAddressThatWillNotBindLeavesTheServerOnItsOldOnes) {
    target_.settings.DNSBind = "";
    target_.settings.DNSPort = 5353;
    target_.settings.PrimaryIP = "192.168.1.5";
    target_.startResults = {false, true};
    frmOptions& f = Open();
    f.chkBind = true;
    f.comBind = "10.1.2.3";
    f.txtPort = "5400";
    ASSERT_EQ(f.OK(), Outcome::Closed);
    EXPECT_EQ(target_.starts,
              (std::vector<std::pair<std::string, int32_t>>{{"10.1.2.3", 5400}, {"", 5353}}));
    EXPECT_TRUE(target_.running);
    // The file holds what the user chose; memory what the server runs on.
    EXPECT_EQ(target_.saved.at(0).DNSBind, "10.1.2.3");
    EXPECT_EQ(target_.saved.at(0).DNSPort, 5400);
    EXPECT_EQ(target_.settings.DNSBind, "");
    EXPECT_EQ(target_.settings.DNSPort, 5353);
    EXPECT_EQ(target_.settings.PrimaryIP, "192.168.1.5");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_NE(prompt_.boxes[0].text.find("all addresses, port 5353"), std::string::npos);
    // The rest of the applying still happens.
    EXPECT_EQ(Calls().back(), "LoadPerm");

    // Nothing about the binding changed: no second try.
    log_.calls.clear();
    target_.starts.clear();
    target_.startResults = {false};
    target_.running = true;
    prompt_.boxes.clear();
    frmOptions& g = Open();
    ASSERT_EQ(g.OK(), Outcome::Closed);
    EXPECT_EQ(target_.starts.size(), 1u);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(OptionsTest, HostsFileBrowseAndEdit) {
    frmOptions& f = Open();
    prompt_.chosenFile = std::filesystem::path("/srv/hosts.txt");
    f.BrowseHosts();
    ASSERT_EQ(prompt_.choosers.size(), 1u);
    EXPECT_EQ(prompt_.choosers[0].title, "Select Hosts file");
    EXPECT_EQ(prompt_.choosers[0].start, std::filesystem::path("/etc/hosts"));
    EXPECT_EQ(f.txtHosts, "/srv/hosts.txt");
    prompt_.chosenFile.reset();
    f.BrowseHosts();
    EXPECT_EQ(prompt_.choosers[1].start, std::filesystem::path("/srv"));
    EXPECT_EQ(f.txtHosts, "/srv/hosts.txt");  // cancelled: unchanged

    f.EditHosts();
    EXPECT_EQ(launcher_.edited, std::vector<std::filesystem::path>{"/srv/hosts.txt"});
    EXPECT_TRUE(prompt_.boxes.empty());
    launcher_.succeed = false;
    f.EditHosts();
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Error trying to open the text editor!"});

    prompt_.chosenFolder = dir_.path() / "master";
    f.BrowseCopy();
    EXPECT_EQ(prompt_.choosers.back().title, "Copy Zone Files From");
    EXPECT_EQ(f.txtCopy, (dir_.path() / "master").string());
}

}  // namespace
