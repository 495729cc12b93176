// The main window's zone-making commands: new zone, quick domain, zone properties and copy on the
// zone side, the reverse zone wizard (also for the record dialog's new address).
#include <algorithm>

#include "editor/frmMain.h"
#include "editor/zone_commands.h"

namespace editor {

void frmMain::SetZoneDialogs(IZoneDialogs& dialogs, const kest::IClock& clock) {
    zoneDialogs_ = &dialogs;
    clock_ = &clock;
}

ZoneHost frmMain::Host() {
    return {ed_, *clock_, ZoneList, [this](const std::string& text) { return AddAndSelect(text); }};
}

bool frmMain::AddAndSelect(const std::string& text) {
    // The list stays in the bytewise order it was read in.
    auto at = std::lower_bound(ZoneList.begin(), ZoneList.end(), text);
    if (at == ZoneList.end() || *at != text) at = ZoneList.insert(at, text);
    const bool loaded = SelectZone(static_cast<int>(at - ZoneList.begin()));
    Focus = Side::Zones;
    return loaded;
}

void frmMain::NewZone() {
    if (!zoneDialogs_) return;
    frmZone dialog(Host());
    dialog.LoadZone(true);
    zoneDialogs_->ShowZone(dialog);
    Redraw();
}

void frmMain::ZoneProperties() {
    frmZone dialog(Host());
    dialog.LoadZone(false);
    zoneDialogs_->ShowZone(dialog);
    Redraw();
}

void frmMain::QuickDomain() {
    if (!zoneDialogs_) return;
    frmQuick dialog(Host());
    dialog.Open();
    zoneDialogs_->ShowQuick(dialog);
    Redraw();
}

void frmMain::CopyZone() {
    const std::string refusal = frmCopy::Refusal(ed_);
    if (!refusal.empty()) {
        ed_.Prompt().Message(platform::IPrompt::Icon::Warning, kTitle, refusal);
        return;
    }
    frmCopy dialog(Host());
    dialog.Open();
    zoneDialogs_->ShowCopy(dialog);
    Redraw();
}

void frmMain::ReverseWizard() {
    if (!zoneDialogs_) return;
    frmArpa dialog(Host());
    if (!dialog.OpenFromMain()) return;
    zoneDialogs_->ShowArpa(dialog);
    Redraw();
}

void frmMain::ReverseWizardFor(const std::string& ip, const std::string& name) {
    if (!zoneDialogs_) return;
    frmArpa dialog(Host());
    dialog.HandOver(ip, name);
    zoneDialogs_->ShowArpa(dialog);
    Redraw();
}

bool frmMain::CanNewByFocus() const {
    return (Focus == Side::Zones && zoneDialogs_) || CanNewRecord();
}

void frmMain::NewByFocus() {
    if (Focus == Side::Zones && zoneDialogs_)
        NewZone();
    else
        NewRecord();
}

}  // namespace editor
