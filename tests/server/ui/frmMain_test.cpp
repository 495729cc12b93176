// The main window's controller without a display: each command's calls, questions and messages
// in order (recording prompt and launcher, a recording view), the texts of the caption and the
// status panels, and that the server is checked again after anything that lets events run.
#include "server/ui/frmMain.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "server/resolver/cachefiles.h"
#include "server/resolver/clDNSCache.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using modMain::frmAlpha;
using platform::IPrompt;
using serverui::Child;
using serverui::frmMain;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "frmMain_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Two root servers, one of them with its address: a usable root file.
const char* kRootHints =
    ".                        3600000      NS    A.ROOT-SERVERS.NET.\n"
    "A.ROOT-SERVERS.NET.      3600000      A     198.41.0.4\n"
    ".                        3600000      NS    B.ROOT-SERVERS.NET.\n";

class RecordingView : public serverui::IMainView {
  public:
    std::vector<std::string> calls;
    bool minimized = false;
    std::vector<std::pair<int64_t, int64_t>> progress;
    bool cancelAt = false;  // answer "cancelled" to the first progress call
    std::function<void()> onClose;

    void ShowChild(Child c) override {
        calls.push_back(c == Child::Graph ? "show graph"
                        : c == Child::Log ? "show log"
                                          : "show leases");
    }
    bool Minimized() const override { return minimized; }
    void CloseMain() override {
        calls.push_back("close main");
        if (onClose) onClose();
    }
    void Refresh() override { calls.push_back("refresh"); }
    void RedrawGraph() override { calls.push_back("redraw graph"); }
    void RefreshLeases() override { calls.push_back("refresh leases"); }
    void ClearLogList() override { calls.push_back("clear log list"); }
    void ShowAbout() override { calls.push_back("about"); }
    bool DownloadProgress(int64_t received, int64_t total) override {
        progress.emplace_back(received, total);
        return !cancelAt;
    }
    void DownloadDone() override { calls.push_back("download done"); }
    bool Called(const std::string& what) const {
        return std::find(calls.begin(), calls.end(), what) != calls.end();
    }
};

class FakeFetcher : public serverui::IRootFetcher {
  public:
    serverui::FetchResult result;
    std::vector<std::string> urls;
    std::function<void()> during;  // runs while the download lets events run
    serverui::FetchResult Fetch(const std::string& url, int,
                                const std::function<bool(int64_t, int64_t)>& progress) override {
        urls.push_back(url);
        if (during) during();
        if (!progress(static_cast<int64_t>(result.body.size()),
                      static_cast<int64_t>(result.body.size())))
            return {false, {}, "Operation canceled"};
        return result;
    }
};

class MainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        Make();
    }

    std::unique_ptr<frmAlpha> NewAlpha(bool display) {
        modMain::HostServices h;
        h.clock = &clock_;
        h.prompt = &prompt_;
        h.launcher = &launcher_;
        h.programDir = home_;
        h.displayAvailable = display;
        auto a = std::make_unique<frmAlpha>(h);
        a->LoadSettings({});
        a->settings.DNSBind = "127.0.0.1";
        return a;
    }

    frmAlpha& Make() {
        main_.reset();
        alpha_.reset();
        alpha_ = NewAlpha(true);
        NewMain();
        return *alpha_;
    }

    // A server started on a free port (the main window is made by the test).
    void StartRunning() {
        alpha_ = kest::test::StartOnFreePort([this](uint16_t port) {
            auto a = NewAlpha(false);
            a->settings.DNSPort = port;
            return a;
        });
    }

    void NewMain() {
        serverui::MainHost mh;
        mh.prompt = &prompt_;
        mh.launcher = &launcher_;
        mh.store = &store_;
        mh.fetcher = &fetcher_;
        mh.programFolder = "/opt/kest/bin";
        main_ = std::make_unique<frmMain>(*alpha_, mh);
        main_->SetView(&view_);
        main_->Opened();
    }

    // A cache with two permanent records (the root file) and one learnt record.
    void FillCache() {
        platform::WriteFileAtomic(home_ / "named.root", kRootHints);
        alpha_->CacheFiles().LoadPerm();
        platform::WriteFileAtomic(home_ / "learnt.txt", "www.example.com.  3600  A  192.0.2.7\n");
        alpha_->CacheFiles().LoadFile(home_ / "learnt.txt", false);
    }

    std::vector<std::string> LogTexts() const {
        std::vector<std::string> out;
        for (const auto& l : alpha_->Log().BufferLines()) out.push_back(l.substr(11));
        return out;
    }

    kest::test::FakeClock clock_;
    kest::test::RecordingPrompt prompt_;
    kest::test::RecordingLauncher launcher_;
    kest::test::TempDir dir_;
    const std::filesystem::path home_ = dir_.path();
    platform::SettingsStore store_{home_ / "window.ini"};
    FakeFetcher fetcher_;
    RecordingView view_;
    std::unique_ptr<frmAlpha> alpha_;
    std::unique_ptr<frmMain> main_;
};

TEST_F(MainTest, CaptionAndStatusPanels) {
    EXPECT_EQ(main_->Caption(), "Kestrune");
    alpha_->settings.Name = "ns1.lan";
    EXPECT_EQ(main_->Caption(), "ns1.lan - Kestrune");

    alpha_->TotalRequests = 12;
    EXPECT_EQ(main_->RequestsPanel(), "Requests: 12 ");
    EXPECT_EQ(main_->CachePanel(), "Cache: 0 ");
    FillCache();
    EXPECT_EQ(main_->CachePanel(), "Cache: 4 ");  // three from the root file

    EXPECT_EQ(frmMain::UptimeText(0), "Uptime: 0 minutes");
    EXPECT_EQ(frmMain::UptimeText(61.0 / 1440), "Uptime: 1 hour, 1 minute");
    EXPECT_EQ(frmMain::UptimeText(1 + 2.0 / 24 + 5.0 / 1440), "Uptime: 1 day, 2 hours, 5 minutes");
    EXPECT_EQ(frmMain::UptimeText(3 + 1.0 / 1440), "Uptime: 3 days, 1 minute");
    EXPECT_EQ(frmMain::UptimeText(59.9 / 86400), "Uptime: 0 minutes");

    EXPECT_EQ(main_->StartStopCaption(), "&Start Server");
    alpha_->Running = true;
    EXPECT_EQ(main_->StartStopCaption(), "&Pause Server");
    alpha_->Running = false;
}

TEST_F(MainTest, ClearCacheAsksWithNoPreselectedAndLogs) {
    FillCache();
    alpha_->Log().OpenWindow();
    main_->mnuClearCache();  // the recording prompt answers the default button: No
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Are you sure you want to clear the cached records ?");
    EXPECT_EQ(prompt_.boxes[0].buttons, IPrompt::Buttons::YesNo);
    EXPECT_EQ(prompt_.boxes[0].defaultButton, IPrompt::Answer::No);
    EXPECT_EQ(alpha_->Cache().Count(), 4);
    EXPECT_TRUE(LogTexts().empty());

    prompt_.askAnswers = {IPrompt::Answer::Yes};
    main_->mnuClearCache();
    EXPECT_EQ(alpha_->Cache().Count(), 3);  // the permanent records stay
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"Cache cleared by operator"});
}

TEST_F(MainTest, CommandsCheckTheServerAgainAfterLettingEventsRun) {
    FillCache();
    alpha_->Log().OpenWindow();
    // The server shuts down while the question is open (a session end, a signal).
    prompt_.during = [this] { alpha_->CloseDown(); };
    prompt_.askAnswers = {IPrompt::Answer::Yes};
    main_->mnuClearCache();
    EXPECT_EQ(alpha_->Cache().Count(), 4);
    for (const auto& line : LogTexts()) EXPECT_NE(line, "Cache cleared by operator");

    // Exit: the server is already gone, so nothing is done twice and no window is closed.
    Make();
    int unloads = 0;
    alpha_->OnUnload = [&] { ++unloads; };
    prompt_.during = [this] { alpha_->CloseDown(); };
    prompt_.answers = {true};
    main_->mnuExit();
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(view_.Called("close main"));

    // The root download lets events run for long: a server gone meanwhile is left alone.
    Make();
    std::filesystem::remove(home_ / "named.root");
    prompt_ = {};
    fetcher_.result = {true, kRootHints, {}};
    fetcher_.during = [this] { alpha_->CloseDown(); };
    main_->mnuPerm();
    EXPECT_FALSE(std::filesystem::exists(home_ / "named.root"));
    EXPECT_EQ(prompt_.boxes.size(), 1u);  // only the information box
}

TEST_F(MainTest, StartPauseFollowsTheStateAfterTheCommand) {
    // A start that fails shows its warning (events run inside it); the caption must say what
    // is true once the command is over, not what was asked for.
    auto blocker = std::make_unique<platform::TcpListener>();
    ASSERT_TRUE(blocker->Bind("127.0.0.1", 0) && blocker->Listen());
    alpha_->settings.DNSPort = blocker->LocalPort();
    alpha_->Interactive = true;
    std::vector<std::string> captionsWhileBoxOpen;
    prompt_.during = [&] { captionsWhileBoxOpen.push_back(main_->StartStopCaption()); };
    view_.calls.clear();
    main_->mnuStartStop();
    EXPECT_FALSE(alpha_->Running);
    EXPECT_EQ(main_->StartStopCaption(), "&Start Server");
    ASSERT_FALSE(view_.calls.empty());
    EXPECT_EQ(view_.calls.back(), "refresh");
    ASSERT_EQ(prompt_.Texts(),
              std::vector<std::string>{"Could not start DNS service on 127.0.0.1"});

    blocker.reset();
    prompt_ = {};
    StartRunning();
    NewMain();
    ASSERT_TRUE(alpha_->Running);
    EXPECT_EQ(main_->StartStopCaption(), "&Pause Server");
    main_->mnuStartStop();
    EXPECT_FALSE(alpha_->Running);
    EXPECT_EQ(alpha_->StatusText, "Paused");
    EXPECT_EQ(main_->StartStopCaption(), "&Start Server");
}

TEST_F(MainTest, ProgramsStartFromTheirFolders) {
    FillCache();
    main_->mnuViewCache();
    ASSERT_EQ(launcher_.started.size(), 1u);
    EXPECT_EQ(launcher_.started[0].program, (home_ / "kestpeek").string());
    EXPECT_EQ(launcher_.started[0].args,
              std::vector<std::string>{(home_ / "snapshot.dat").string()});
    EXPECT_TRUE(std::filesystem::exists(home_ / "snapshot.dat"));
    EXPECT_TRUE(prompt_.boxes.empty());

    main_->mnuEdit();
    main_->mnuQuery();
    ASSERT_EQ(launcher_.started.size(), 3u);
    EXPECT_EQ(launcher_.started[1].program, "/opt/kest/bin/kestzone");
    EXPECT_EQ(launcher_.started[2].program, "/opt/kest/bin/lookup");
    EXPECT_TRUE(launcher_.started[2].args.empty());

    launcher_.succeed = false;
    main_->mnuViewCache();
    main_->mnuQuery();
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[0].text, "Could not open Cache Snapshot Viewer !");
    EXPECT_EQ(prompt_.boxes[0].icon, IPrompt::Icon::Warning);
    EXPECT_EQ(prompt_.boxes[1].text, "Could not start /opt/kest/bin/lookup !");

    main_->mnuHelp();
    main_->mnuWeb();
    ASSERT_EQ(launcher_.urls.size(), 2u);
    EXPECT_EQ(launcher_.urls[0], platform::ManualUrl("server.html"));
    EXPECT_EQ(launcher_.urls[1], frmMain::kOnlineSupport);
}

TEST_F(MainTest, SupportFileAndExit) {
    main_->mnuSupport();
    const auto file = home_ / "support.txt";
    ASSERT_TRUE(std::filesystem::exists(file));
    const auto text = platform::ReadFile(file);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->find("Error Description"), std::string::npos);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    const std::string& box = prompt_.boxes[0].text;
    EXPECT_EQ(box.rfind("A support file containing information about your\n"
                        "system and configuration was created as\n'" +
                            file.string() + "'\n",
                        0),
              0u);
    EXPECT_TRUE(box.ends_with("\nReview the support file with notepad now ?"));
    EXPECT_TRUE(launcher_.edited.empty());  // answered no
    prompt_.answers = {true};
    main_->mnuSupport();
    EXPECT_EQ(launcher_.edited, std::vector<std::filesystem::path>{file});

    // Exit: "no" changes nothing, "yes" closes the window and shuts the server down.
    prompt_ = {};
    int unloads = 0;
    alpha_->OnUnload = [&] { ++unloads; };
    main_->mnuExit();
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Exit Kestrune ?"});
    EXPECT_EQ(unloads, 0);
    prompt_.answers = {true};
    main_->mnuExit();
    EXPECT_TRUE(view_.Called("close main"));
    EXPECT_EQ(unloads, 1);
    EXPECT_TRUE(alpha_->ClosedDown());

    // As a service the unit is stopped; its stop event does the rest.
    Make();
    alpha_->settings.NTService = true;
    alpha_->settings.ServiceName = "kestrund";
    prompt_.answers = {true};
    main_->mnuExit();
    ASSERT_EQ(launcher_.started.size(), 1u);
    EXPECT_EQ(launcher_.started[0].program, "systemctl");
    EXPECT_EQ(launcher_.started[0].args, (std::vector<std::string>{"stop", "kestrund"}));
    EXPECT_FALSE(alpha_->ClosedDown());
}

TEST_F(MainTest, ChildWindowsFlagsLogAndBars) {
    alpha_->AddLine(0, "before");
    main_->mnuGraph();
    main_->mnuLog();
    main_->mnuLeases();
    EXPECT_TRUE(main_->GraphOpen && main_->LogOpen && main_->LeasesOpen);
    EXPECT_TRUE(view_.Called("show graph") && view_.Called("show log") &&
                view_.Called("show leases") && view_.Called("refresh leases"));
    EXPECT_TRUE(alpha_->Log().WindowOpen());
    alpha_->AddLine(0, "after");
    ASSERT_EQ(alpha_->Log().WindowLines().size(), 1u);  // the buffer starts with the window

    main_->mnuClearLog();
    EXPECT_TRUE(view_.Called("clear log list"));
    EXPECT_TRUE(alpha_->Log().WindowLines().empty());
    EXPECT_TRUE(alpha_->Log().BufferLines().empty());

    EXPECT_TRUE(main_->ToolBarShown());
    main_->mnuToolBar();
    EXPECT_FALSE(main_->ToolBarShown());
    EXPECT_EQ(store_.GetString("Server", "MainToolBar"), "No");
    main_->mnuStatusBar();
    main_->mnuStatusBar();
    EXPECT_EQ(store_.GetString("Server", "MainStatusBar"), "Yes");
    EXPECT_TRUE(main_->StatusBarShown());

    // Unloading the main window clears every flag.
    main_->Unloaded();
    EXPECT_FALSE(main_->MainOpen || main_->GraphOpen || main_->LogOpen || main_->LeasesOpen);
    EXPECT_FALSE(alpha_->Log().WindowOpen());
}

TEST_F(MainTest, MinimisedOrClosedMainWindowLeavesTheServerRunning) {
    StartRunning();
    NewMain();
    int unloads = 0;
    alpha_->OnUnload = [&] { ++unloads; };
    view_.onClose = [this] { main_->Unloaded(); };
    main_->mnuGraph();

    // Open: the tick shows the uptime and redraws the graph.
    clock_.Advance(125);
    view_.calls.clear();
    main_->TimerStep();
    EXPECT_EQ(alpha_->StatusText, "Uptime: 2 minutes");
    EXPECT_TRUE(view_.Called("redraw graph"));

    // Minimised: the tick closes the window; the server goes on.
    view_.minimized = true;
    main_->TimerStep();
    EXPECT_TRUE(view_.Called("close main"));
    EXPECT_FALSE(main_->MainOpen);
    alpha_->Timer();
    EXPECT_TRUE(alpha_->Running);
    EXPECT_TRUE(alpha_->TimerActive());
    EXPECT_EQ(unloads, 0);
    EXPECT_FALSE(alpha_->ClosedDown());
}

TEST_F(MainTest, RootFileDownload) {
    platform::WriteFileAtomic(home_ / "named.root", "old\n");
    // Cancel in the information box: nothing is fetched.
    prompt_.askAnswers = {IPrompt::Answer::Cancel};
    main_->mnuPerm();
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text,
              "This function will connect to the Internic and download\n"
              "the latest Internet Root file.\n\n"
              "The Internet Root records very seldom change, and Kestrune\n"
              "comes with the latest Root file at the time of shipping.");
    EXPECT_EQ(prompt_.boxes[0].buttons, IPrompt::Buttons::OkCancel);
    EXPECT_TRUE(fetcher_.urls.empty());

    // Failed, cancelled and unusable downloads are shown and change nothing.
    prompt_ = {};
    fetcher_.result = {false, {}, "Connection refused"};
    main_->mnuPerm();
    EXPECT_EQ(fetcher_.urls, std::vector<std::string>{serverui::kDefaultRootFileUrl});
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_NE(prompt_.boxes[1].text.find("Connection refused"), std::string::npos);
    EXPECT_EQ(prompt_.boxes[1].icon, IPrompt::Icon::Warning);

    fetcher_.result = {true, "<html><body>404 Not Found</body></html>\n", {}};
    main_->mnuPerm();
    view_.cancelAt = true;
    fetcher_.result = {true, kRootHints, {}};
    main_->mnuPerm();
    view_.cancelAt = false;
    EXPECT_EQ(platform::ReadFile(home_ / "named.root"), "old\n");
    EXPECT_EQ(prompt_.boxes.size(), 6u);
    EXPECT_EQ(alpha_->Cache().Count(), 0);

    // A good file from the address in the settings replaces named.root and is loaded.
    store_.SetString("Server", "RootFileURL", "http://127.0.0.1:8053/named.root");
    prompt_ = {};
    main_->mnuPerm();
    EXPECT_EQ(fetcher_.urls.back(), "http://127.0.0.1:8053/named.root");
    EXPECT_EQ(platform::ReadFile(home_ / "named.root"), std::string(kRootHints));
    EXPECT_EQ(alpha_->Cache().Count(), 3);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[1].icon, IPrompt::Icon::Information);
    EXPECT_TRUE(view_.Called("download done"));
    ASSERT_FALSE(view_.progress.empty());
}

TEST_F(MainTest, ReloadLoadsZonesThenPermanentRecords) {
    platform::WriteFileAtomic(home_ / "named.root", kRootHints);
    std::filesystem::create_directories(home_ / "data");
    main_->mnuReload();
    EXPECT_EQ(alpha_->Cache().Count(), 3);
    // A closed-down server loads nothing more.
    Make();
    alpha_->CloseDown();
    main_->mnuReload();
    EXPECT_EQ(alpha_->Cache().Count(), 0);
}

}  // namespace
