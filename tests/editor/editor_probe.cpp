// Drives the editor's controllers as a user would, on a real program folder, for the integration
// tests (the reload datagram goes to the running server):
//   editor_probe HOME add ZONE NAME TYPE FIELD...   a new record in the zone, then the window is
//                                                   closed (the zone is saved, "reload" sent)
//        A: address   NS, CNAME, PTR: target   MX: preference target
//        SRV: priority weight port target        TXT: text
//   editor_probe HOME delete ZONE                   deletes the zone, answering Yes
// Message boxes are printed to standard error; the status is 1 when the record was not stored.
#include <iostream>
#include <string>
#include <vector>

#include "editor/frmMain.h"
#include "editor/reload_sender.h"
#include "platform/settings_store.h"
#include "platform/system_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"

using namespace editor;

namespace {

class Dialogs : public IMainDialogs, public IReverseChooser {
  public:
    explicit Dialogs(std::vector<std::string> args) : args_(std::move(args)) {}
    void ShowRecordDialog(frmRec& d) override {
        // args: NAME TYPE FIELD...
        d.txtName = args_.at(0);
        for (size_t i = 0; i < RecordTypes().size(); ++i)
            if (args_.at(1) == RecordTypes()[i].word) d.ChooseType(static_cast<int>(i));
        d.txtName = args_.at(0);
        const auto field = [&](size_t i) { return i < args_.size() ? args_[i] : std::string(); };
        switch (d.Type().code) {
            case kA:
                d.txtIP = field(2);
                break;
            case kMX:
                d.txtPref = field(2);
                d.txtData = field(3);
                break;
            case kSRV:
                d.txtPref = field(2);
                d.txtWeight = field(3);
                d.txtPort = field(4);
                d.txtData = field(5);
                break;
            default:
                d.txtData = field(2);
                break;
        }
        stored = d.OK() && !d.SavedKey.empty();
    }
    std::string ChooseReverseZone(const std::vector<std::string>&) override { return ""; }
    bool stored = false;

  private:
    std::vector<std::string> args_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: editor_probe HOME add|delete ZONE ...\n";
        return 2;
    }
    const std::filesystem::path home = argv[1];
    const std::string command = argv[2];
    const std::string zone = argv[3];
    std::vector<std::string> rest(argv + 4, argv + argc);

    platform::SystemClock clock;
    UdpReloadSender sender;
    kest::test::RecordingPrompt prompt;
    prompt.askAnswers = {platform::IPrompt::Answer::Yes};
    kest::test::RecordingLauncher launcher;
    clEditor ed(home, clock, sender, prompt);
    ed.LoadServerSettings();
    ed.LoadEditorSettings();
    Dialogs dialogs(rest);
    platform::SettingsStore store(home / "editor-view.ini");
    frmMain main(ed, launcher, dialogs, dialogs, store);
    main.Open();
    int index = -1;
    for (size_t i = 0; i < main.ZoneList.size(); ++i)
        if (main.ZoneList[i] == zone) index = static_cast<int>(i);
    if (index < 0 || !main.SelectZone(index)) {
        std::cerr << "no zone " << zone << "\n";
        return 1;
    }
    int status = 0;
    if (command == "add") {
        main.SetFocus(frmMain::Side::Records);
        main.NewRecord();
        if (!dialogs.stored) status = 1;
    } else if (command == "delete") {
        main.SetFocus(frmMain::Side::Zones);
        main.Delete();
    } else {
        status = 2;
    }
    main.Close();
    for (const auto& box : prompt.boxes) std::cerr << "box: " << box.text << "\n";
    return status;
}
