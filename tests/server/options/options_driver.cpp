// A test program around the options dialog (not part of the product):
//   --serve         runs a server object on $KESTRUNE_HOME like "kestserv -n" and drives the dialog
//                   from standard input, one command a line ("open", "text txtPort 5300",
//                   "check chkBind 1", "combo comBind 10.0.0.1", "ip ipBlock 10.6.6.6",
//                   "click cmdOK", "quit"), answering "OK <command>" or "ERR <command>";
//                   message boxes are printed as "BOX <text>";
//   --show          shows the dialog with example settings until it is closed; "tab N" on
//                   standard input shows tab N (accessibility checks);
//   --shots FOLDER  writes a picture of every tab with example settings.
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/event_pump.h"
#include "platform/interfaces.h"
#include "platform/paths.h"
#include "platform/system_clock.h"
#include "server/frmAlpha.h"
#include "server/options/frmOptionsView.h"
#include "server/options/options_host.h"
#include "tests/server/options/options_fakes.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "widgets/ctlIP.h"

namespace {

// Boxes go to standard output, one line each, and answer with their default.
class PrintingPrompt : public kest::test::RecordingPrompt {
  public:
    void Message(Icon icon, const std::string& title, const std::string& text) override {
        RecordingPrompt::Message(icon, title, text);
        std::string line = text;
        for (char& c : line)
            if (c == '\n') c = '|';
        std::printf("BOX %s\n", line.c_str());
        std::fflush(stdout);
    }
};

void Example(kest::test::RecordingTarget& t) {
    t.ips = {"192.168.10.2", "10.0.0.1", "127.0.0.1"};
    modMain::Settings& s = t.settings;
    s.Name = "ns1.marsh.example";
    s.DNSBind = "192.168.10.2";
    s.PrimaryIP = s.DNSBind;
    s.StartMini = true;
    s.WriteLog = true;
    s.DNSRecursion = "192.168.10.*";
    s.MinTimeOut = 3;
    s.RecursionOut = true;
    s.NS = {"192.168.10.254", "10.0.0.53"};
    s.MasterDir = "/srv/kestrune/master";
    s.MasterSync = 15;
    s.Hosts = "/etc/hosts";
    s.HostsTTL = 3600;
    s.CacheTTL = 300;
    s.CacheReload = true;
    s.BombLevel = 50;
    s.NoBlock = {"192.168.10.2", "127.0.0.1"};
    s.DHCP = {{"192.168.10.2", "lan.marsh.example.", "192.168.10.100", "192.168.10.199",
               "255.255.255.0", "192.168.10.1", 259200, true}};
    t.blocks = {"10.66.0.7", "192.168.10.99"};
}

int ShowExample(QApplication& app, const QString& shots) {
    kest::test::CallLog log;
    kest::test::RecordingTarget target(log);
    kest::test::RecordingService service(log);
    kest::test::RecordingStartup startup(log);
    kest::test::RecordingPrompt prompt;
    kest::test::RecordingLauncher launcher;
    Example(target);
    modOptions::frmOptions ctl(target, service, startup, &prompt, &launcher);
    ctl.Load();
    modOptions::frmOptionsView view(ctl);
    view.show();
    auto* tabs = view.findChild<QTabWidget*>("tabOptions");
    if (shots.isEmpty()) {
        // "tab N" on standard input shows tab N and answers "OK tab N".
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        std::string pending;
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                input.setEnabled(false);
                return;
            }
            pending.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line.rfind("tab ", 0) == 0) tabs->setCurrentIndex(std::atoi(line.c_str() + 4));
                std::printf("OK %s\n", line.c_str());
                std::fflush(stdout);
            }
        });
        return app.exec();
    }

    QDir().mkpath(shots);
    const char* names[] = {"general", "dns-resolution", "dns-records", "blocking", "dhcp"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        const QString file = shots + "/options-" + names[i] + ".png";
        if (!view.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}

class Driver {
  public:
    explicit Driver(modMain::frmAlpha& alpha) : alpha_(alpha) {}

    std::string Run(const std::string& line) {
        std::istringstream in(line);
        std::string verb, name, value;
        in >> verb >> name;
        std::getline(in >> std::ws, value);
        const QString qname = QString::fromStdString(name);
        if (verb == "open") {
            view_.reset();
            ctl_.reset();
            target_ = std::make_unique<modOptions::AlphaTarget>(alpha_);
            service_ = std::make_unique<modOptions::SystemdService>(alpha_.ProgramDir());
            startup_ = std::make_unique<modOptions::XdgStartupEntry>(alpha_.ProgramDir());
            ctl_ = std::make_unique<modOptions::frmOptions>(*target_, *service_, *startup_,
                                                            alpha_.Prompt(), alpha_.Launcher());
            ctl_->Load();
            view_ = std::make_unique<modOptions::frmOptionsView>(*ctl_);
            view_->show();
            return "OK";
        }
        if (!view_) return "ERR";
        if (verb == "text") {
            auto* e = view_->findChild<QLineEdit*>(qname);
            if (!e) return "ERR";
            e->setText(QString::fromStdString(value));
            emit e->editingFinished();
        } else if (verb == "check") {
            auto* c = view_->findChild<QCheckBox*>(qname);
            if (!c) return "ERR";
            if (c->isChecked() != (value == "1")) c->click();
        } else if (verb == "combo") {
            auto* c = view_->findChild<QComboBox*>(qname);
            const int i = c ? c->findText(QString::fromStdString(value)) : -1;
            if (i < 0) return "ERR";
            c->setCurrentIndex(i);
        } else if (verb == "ip") {
            auto* c = view_->findChild<ctlIP*>(qname);
            if (!c) return "ERR";
            c->SetText(value);
        } else if (verb == "click") {
            auto* b = view_->findChild<QPushButton*>(qname);
            if (!b) return "ERR";
            b->click();
        } else {
            return "ERR";
        }
        return "OK";
    }

  private:
    modMain::frmAlpha& alpha_;
    std::unique_ptr<modOptions::AlphaTarget> target_;
    std::unique_ptr<modOptions::SystemdService> service_;
    std::unique_ptr<modOptions::XdgStartupEntry> startup_;
    std::unique_ptr<modOptions::frmOptions> ctl_;
    std::unique_ptr<modOptions::frmOptionsView> view_;
};

int Serve(QApplication& app) {
    platform::SystemClock clock;
    PrintingPrompt prompt;
    platform::EventPump pump;
    modMain::HostServices host;
    host.clock = &clock;
    host.prompt = &prompt;
    host.pump = &pump;
    host.programDir = platform::ProgramDirectory();
    host.displayAvailable = true;
    modMain::frmAlpha alpha(host);
    alpha.LoadSettings(platform::IdentifyHost());
    alpha.Log().SetEcho(true);
    alpha.OnUnload = [&app] { app.quit(); };
    alpha.Begin();
    alpha.Log().FlushEcho();
    std::printf("READY\n");
    std::fflush(stdout);

    Driver driver(alpha);
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            input.setEnabled(false);
            alpha.CloseDown();
            return;
        }
        pending.append(buf, static_cast<size_t>(n));
        // A command may let events run: no other command starts inside it.
        input.setEnabled(false);
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (line == "quit") {
                alpha.CloseDown();
                return;
            }
            const std::string answer = driver.Run(line);
            alpha.Log().FlushEcho();
            std::printf("%s %s\n", answer.c_str(), line.c_str());
            std::fflush(stdout);
        }
        input.setEnabled(true);
    });
    const int code = app.exec();
    alpha.Log().FlushEcho();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--serve")) return Serve(app);
    if (args.contains("--show")) return ShowExample(app, {});
    const int shots = static_cast<int>(args.indexOf("--shots"));
    if (shots > 0 && shots + 1 < args.size()) return ShowExample(app, args[shots + 1]);
    std::fprintf(stderr, "usage: options_driver --serve | --show | --shots FOLDER\n");
    return 2;
}
