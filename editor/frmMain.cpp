#include "editor/frmMain.h"

#include <algorithm>

#include "core/modIP.h"
#include "platform/paths.h"

namespace editor {
namespace {

const char* const kSection = "Edit Records";

bool ReadFlag(const platform::SettingsStore& store, const char* key) {
    return store.GetString(kSection, key, "True") != "False";
}

}  // namespace

frmMain::frmMain(clEditor& editor, platform::ILauncher& launcher, IMainDialogs& dialogs,
                 IReverseChooser& chooser, platform::SettingsStore& store)
    : ed_(editor), launcher_(launcher), dialogs_(dialogs), chooser_(chooser), store_(store) {}

void frmMain::Open() {
    ShowToolBar = ReadFlag(store_, "ToolBar");
    ShowStatusBar = ReadFlag(store_, "StatusBar");
    ed_.Zone = clZone();
    ed_.ZoneChanged = false;
    ed_.CurrentZoneText = "*";
    ZoneList = ListZones(ed_.DataDir());
    SelectedZone = -1;
    if (!ZoneList.empty()) SelectZone(0);
    Redraw();
    Focus = Side::Zones;
}

void frmMain::Close() {
    // Each pending PTR goes into its reverse zone when that zone is listed; the rest is dropped.
    const std::vector<std::string> pending = ed_.PendingPTR;
    for (const auto& entry : pending) {
        std::string rest = entry;
        const std::string zone = NextWord(rest);
        const auto it = std::find(ZoneList.begin(), ZoneList.end(), zone);
        if (it == ZoneList.end()) continue;
        if (zone == ed_.CurrentZoneText) {
            // Loaded already: reading it again after saving merges what waits for it.
            if (!ed_.CommitZone()) continue;
            ed_.CurrentZoneText = "*";
        }
        SelectZone(static_cast<int>(it - ZoneList.begin()));
    }
    ed_.PendingPTR.clear();
    store_.SetString(kSection, "ToolBar", ShowToolBar ? "True" : "False");
    store_.SetString(kSection, "StatusBar", ShowStatusBar ? "True" : "False");
    store_.Sync();
    ed_.CommitZone();
    ed_.SaveEditorSettings();
}

bool frmMain::SelectZone(int index) {
    if (index < 0 || index >= static_cast<int>(ZoneList.size())) return false;
    const std::string& text = ZoneList[static_cast<size_t>(index)];
    if (text != ed_.CurrentZoneText) {
        // A zone that could not be saved stays loaded, so its changes are not lost.
        if (!ed_.CommitZone()) return false;
        ed_.CurrentZoneText = text;
        ed_.LoadZone(text);
        SelectedRecord.clear();
        Redraw();
    }
    SelectedZone = index;
    return true;
}

void frmMain::Redraw() {
    ++RecordsVersion;
    if (!ed_.Zone.Find(SelectedRecord))
        SelectedRecord = ed_.Zone.Records.empty() ? std::string() : ed_.Zone.Records.front().KeyNo;
}

std::string frmMain::DataText(const clDNSRecord& r) {
    const std::string& d = r.Data;
    switch (r.RecType) {
        case kA:
            return modIP::DataToIP(d);
        case kNS:
        case kCNAME:
        case kPTR:
            return CleanName(d, false);
        case kMX:
            return CleanName(d.size() > 2 ? d.substr(2) : "", false) + " (Preference " +
                   std::to_string(Short(d, 0)) + ")";
        case kSRV:
            return CleanName(d.size() > 6 ? d.substr(6) : "", false) + " (Priority " +
                   std::to_string(Short(d, 0)) + ", Weight " + std::to_string(Short(d, 2)) +
                   ", Port " + std::to_string(Short(d, 4)) + ")";
        case kTXT: {
            const auto strings = TxtStrings(d);
            return strings.empty() ? "" : strings.front();
        }
        default:
            return "";
    }
}

std::vector<frmMain::Row> frmMain::Rows() const {
    std::vector<Row> rows;
    for (const auto& r : ed_.Zone.Records)
        rows.push_back({r.KeyNo, r.Name == "." ? "<root>" : CleanName(r.Name, true),
                        TypeName(r.RecType), DataText(r)});
    return rows;
}

std::string frmMain::ZoneLabel() const {
    return ZoneLoaded() ? ed_.CurrentZoneText + " " : "";
}

std::string frmMain::StatusText() const {
    return std::to_string(ed_.Zone.Records.size()) + " Records";
}

bool frmMain::CanNewRecord() const {
    return ZoneLoaded() && ed_.ZoneEditable();
}

bool frmMain::CanProperties() const {
    // The zone dialog comes with the zone commands; without them the zone side opens nothing.
    if (Focus == Side::Zones) return zoneDialogs_ && ZoneLoaded();
    return !ed_.Zone.Records.empty();
}

bool frmMain::CanCopy() const {
    if (Focus == Side::Zones) return zoneDialogs_ && ZoneLoaded() && ed_.ZoneEditable();
    return !ed_.Zone.Records.empty() && ed_.ZoneEditable();
}

bool frmMain::CanDelete() const {
    if (Focus == Side::Zones) return !ZoneList.empty() && SelectedZone >= 0;
    return !ed_.Zone.Records.empty() && ed_.ZoneEditable();
}

void frmMain::NewRecord() {
    if (CanNewRecord()) RecordDialog("", false);
}

void frmMain::Properties() {
    if (CanProperties() && Focus == Side::Zones) return ZoneProperties();
    if (CanProperties() && ed_.Zone.Find(SelectedRecord)) RecordDialog(SelectedRecord, false);
}

void frmMain::Copy() {
    if (CanCopy() && Focus == Side::Zones) return CopyZone();
    if (CanCopy() && ed_.Zone.Find(SelectedRecord)) RecordDialog(SelectedRecord, true);
}

void frmMain::Delete() {
    if (!CanDelete()) return;
    if (Focus == Side::Zones)
        DeleteZone();
    else
        DeleteRecord();
}

void frmMain::RecordDialog(const std::string& key, bool copy) {
    frmRec dialog(ed_, ZoneList, chooser_);
    dialog.LoadRec(key, copy);
    dialogs_.ShowRecordDialog(dialog);
    if (dialog.SavedKey.empty()) return;
    Redraw();
    SelectedRecord = dialog.SavedKey;
    Focus = Side::Records;
    if (dialog.RevZone == "*new*") ReverseWizardFor(dialog.txtIP, dialog.txtName);
}

void frmMain::DeleteZone() {
    using platform::IPrompt;
    const std::string text = ZoneList[static_cast<size_t>(SelectedZone)];
    if (ed_.Prompt().Ask(IPrompt::Icon::Question, kTitle, "Delete Zone '" + text + "' ?",
                         IPrompt::Buttons::YesNo, IPrompt::Answer::No) != IPrompt::Answer::Yes)
        return;
    std::string zoneName = ZoneOfText(text);
    if (text == ed_.CurrentZoneText) zoneName = ed_.Zone.Name;
    if (!ed_.DeleteZoneFile(text)) return;
    ed_.SignalServer("unload ", zoneName);
    ZoneList.erase(ZoneList.begin() + SelectedZone);
    ed_.Zone = clZone();
    ed_.ZoneChanged = false;
    ed_.CurrentZoneText = "*";
    SelectedRecord.clear();
    const int next = std::min(SelectedZone, static_cast<int>(ZoneList.size()) - 1);
    SelectedZone = -1;
    Redraw();
    if (next >= 0) SelectZone(next);
    Focus = Side::Zones;
}

void frmMain::DeleteRecord() {
    const auto& recs = ed_.Zone.Records;
    const auto it = std::find_if(recs.begin(), recs.end(),
                                 [&](const clDNSRecord& r) { return r.KeyNo == SelectedRecord; });
    if (it == recs.end()) return;
    // The row below takes the selection, or the one above at the end of the list.
    const size_t at = static_cast<size_t>(it - recs.begin());
    ed_.Zone.Remove(SelectedRecord);
    ed_.ZoneChanged = true;
    SelectedRecord = recs.empty() ? "" : recs[std::min(at, recs.size() - 1)].KeyNo;
    Redraw();
    Focus = Side::Records;
}

void frmMain::Help() {
    OpenUrl(platform::ManualUrl("editor.html"));
}

void frmMain::OnlineSupport() {
    OpenUrl(kSupportUrl);
}

void frmMain::OpenUrl(const std::string& url) {
    if (!launcher_.OpenUrl(url))
        ed_.Prompt().Message(platform::IPrompt::Icon::Error, kTitle, "Could not open " + url);
}

}  // namespace editor
