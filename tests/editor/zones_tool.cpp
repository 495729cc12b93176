// Drives the zone-making controllers from a command line for the integration tests, the way the
// dialogs would after the user filled them in:
//   kest_zones_tool quick HOME NAME WWW MAIL FTP      the quick domain wizard
//   kest_zones_tool reverse HOME IP PREFIX DOMAIN     the reverse zone wizard, every row
//   auto-filled kest_zones_tool lookup HOME NETWORK               the classless look-up; prints its
//   lines
#include <QCoreApplication>
#include <QTimer>
#include <iostream>

#include "editor/frmArpa.h"
#include "editor/frmArpaLU.h"
#include "editor/frmQuick.h"
#include "editor/reload_sender.h"
#include "platform/system_clock.h"
#include "tests/support/recording_prompt.h"

using namespace editor;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: kest_zones_tool quick|reverse|lookup HOME ...\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string command = argv[1];
    platform::SystemClock clock;
    kest::test::RecordingPrompt prompt;
    UdpReloadSender sender;
    clEditor ed(argv[2], clock, sender, prompt);
    ed.LoadServerSettings();
    ed.LoadEditorSettings();
    ZoneHost host{ed, clock, ListZones(ed.DataDir()), [](const std::string&) { return true; }};
    bool ok = false;
    if (command == "quick" && argc == 7) {
        frmQuick q(host);
        q.Open();
        q.txtName = argv[3];
        q.txtIP1 = argv[4];
        q.txtIP2 = argv[5];
        q.txtIP3 = argv[6];
        ok = q.OK();
    } else if (command == "reverse" && argc == 6) {
        frmArpa w(host);
        w.IPLeft(argv[3]);
        w.ChooseSubnet(std::stoi(argv[4]) - 24);
        w.SelectAll();
        w.FillSelected(argv[5]);
        ok = w.OK();
        std::cout << w.txtZone << "\n";
    } else if (command == "lookup" && argc == 4) {
        frmArpa w(host);
        const std::string net = argv[3];
        w.IPLeft(net.substr(0, net.find('/')));
        w.ChooseSubnet(std::stoi(net.substr(net.find('/') + 1)) - 24);
        frmArpaLU* lu = nullptr;
        auto socket = MakeUdpLookupSocket(
            [&lu](const std::string& data, const std::string& ip, uint16_t port) {
                if (lu) lu->Reply(data, ip, port);
            });
        frmArpaLU look(ed, *socket);
        lu = &look;
        look.LookFor = w.LookFor();
        QTimer timer;
        timer.setInterval(frmArpaLU::kIntervalMs);
        const auto settle = [&] {
            if (!look.TimerActive) app.quit();
        };
        QObject::connect(&timer, &QTimer::timeout, [&] {
            look.Tick();
            settle();
        });
        look.Changed = settle;
        look.LookUp();
        timer.start();
        app.exec();
        lu = nullptr;
        for (const auto& line : look.Lines) std::cout << line << "\n";
        std::cout << "zone: " << look.OK() << "\n";
        return 0;
    } else {
        std::cerr << "kest_zones_tool: bad arguments\n";
        return 2;
    }
    for (const auto& text : prompt.Texts()) std::cerr << text << "\n";
    return ok ? 0 : 1;
}
