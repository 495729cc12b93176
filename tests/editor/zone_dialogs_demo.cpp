// Opens every zone dialog (and the reverse zone chooser) at once with realistic content, for the accessibility check
// (atspi_zone_dialogs.py) and for looking at them. The program folder is a temporary one.
#include <QApplication>
#include <QTemporaryDir>
#include <fstream>

#include "editor/frmArpaEdit.h"
#include "editor/zone_views.h"
#include "platform/system_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "ui_frmArpaEdit.h"
#include "ui_frmArpaFill.h"
#include "ui_frmFindReverse.h"

using namespace editor;

namespace {

class NoSender : public IReloadSender {
  public:
    void Send(const std::string&, uint16_t) override {}
};

class NoSocket : public ILookupSocket {
  public:
    bool Send(const std::string&, const std::string&, uint16_t) override { return true; }
    void Close() override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir home;
    const std::filesystem::path dir = home.path().toStdString();
    std::filesystem::create_directory(dir / "data");
    std::ofstream(dir / "kestrund.ini") << "Name: ns1.example.com\r\nPrimaryIP: 192.0.2.53\r\n";
    std::ofstream(dir / "data" / "example.com.dns")
        << "; Notify 192.0.2.54\r\n@ 3600 SOA ns1 hostmaster 2026120601 86400 3600 777600 3600\r\n"
           " 3600 NS ns1\r\nns1 3600 A 192.0.2.53\r\n";
    platform::SystemClock clock;
    kest::test::RecordingPrompt prompt;
    kest::test::RecordingLauncher launcher;
    NoSender sender;
    clEditor ed(dir, clock, sender, prompt);
    ed.LoadServerSettings();
    ed.LoadZone("example.com");
    ed.CurrentZoneText = "example.com";
    ZoneHost host{ed, clock, {"example.com"}, [](const std::string&) { return false; }};

    frmZone zone(host);
    zone.LoadZone(false);
    frmZoneView zoneView(zone, launcher);
    frmQuick quick(host);
    quick.Open();
    quick.txtName = "shop.example";
    frmQuickView quickView(quick, launcher);
    frmCopy copy(host);
    copy.Open();
    frmCopyView copyView(copy, launcher);
    frmArpa arpa(host);
    arpa.IPLeft("192.168.1.77");
    arpa.ChooseSubnet(2);
    arpa.SelectAll();
    arpa.FillSelected("lan.example.com");
    frmArpaView arpaView(arpa, ed, launcher);
    NoSocket socket;
    frmArpaLU lu(ed, socket);
    lu.LookFor = arpa.LookFor();
    lu.LookUp();
    frmArpaLUView luView(lu);
    luView.Pull();
    QDialog editView, fillView, findView;
    Ui::frmArpaEdit editUi;
    editUi.setupUi(&editView);
    editUi.txtIPShown->setText(QStringLiteral("192.168.1.65"));
    Ui::frmArpaFill fillUi;
    fillUi.setupUi(&fillView);
    Ui::frmFindReverse findUi;
    findUi.setupUi(&findView);
    findUi.List1->addItems({QStringLiteral("1.168.192.in-addr.arpa"),
                            QStringLiteral("64/26.1.168.192.in-addr.arpa")});
    for (QDialog* d : {static_cast<QDialog*>(&zoneView), static_cast<QDialog*>(&quickView),
                       static_cast<QDialog*>(&copyView), static_cast<QDialog*>(&arpaView),
                       static_cast<QDialog*>(&luView), &editView, &fillView, &findView}) {
        d->setModal(false);
        d->show();
    }
    return app.exec();
}
