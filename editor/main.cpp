// kestzone: the record editor.
#include <QApplication>
#include <iostream>

#include "editor/editor.h"
#include "editor/frmMain.h"
#include "editor/frmMainView.h"
#include "editor/reload_sender.h"
#include "editor/zone_views.h"
#include "platform/application.h"
#include "platform/instance_lock.h"
#include "platform/launcher.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/settings_store.h"
#include "platform/system_clock.h"

int main(int argc, char** argv) {
    platform::Application app(argc, argv, true);
    if (!app.HasDisplay()) {
        std::cerr << "kestzone: no display to open its window on\n";
        return 1;
    }
    QApplication::setQuitOnLastWindowClosed(true);
    const std::filesystem::path home = platform::PrepareProgramDirectory();
    // One editor per installation: a second start ends at once, without a word.
    platform::InstanceLock lock;
    if (!lock.Acquire(home / "data" / "kestzone.lock")) return 0;

    platform::SystemClock clock;
    platform::QtPrompt prompt;
    platform::Launcher launcher;
    editor::UdpReloadSender sender;
    editor::clEditor ed(home, clock, sender, prompt);
    ed.LoadServerSettings();
    ed.LoadEditorSettings();
    if (!ed.MayEdit()) return 0;
    platform::SettingsStore store;
    editor::frmMainView view(launcher);
    editor::frmMain main(ed, launcher, view, view, store);
    editor::ZoneDialogsView zoneDialogs(&view, ed, launcher);
    main.SetZoneDialogs(zoneDialogs, clock);
    view.Bind(main);
    view.show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    main.Open();
    view.Sync();
    QApplication::restoreOverrideCursor();
    view.FocusZoneList();
    return app.Run();
}
