#pragma once
// The editor's main window controller: the zone list and the record list, the focus side, which
// commands are enabled, deleting zones and records, the record dialog, the view settings, help.
#include <string>
#include <vector>

#include "editor/editor.h"
#include "editor/frmRec.h"
#include "editor/newzone.h"
#include "platform/host.h"
#include "platform/settings_store.h"

namespace editor {

// Address of the support page.
inline constexpr const char* kSupportUrl = "https://kestrune.example/support/";

// The dialogs the main window opens; the view shows them modally.
class IMainDialogs {
  public:
    virtual ~IMainDialogs() = default;
    // Shows the record dialog on a controller that LoadRec has prepared.
    virtual void ShowRecordDialog(frmRec& dialog) = 0;
};

class IZoneDialogs;

class frmMain {
  public:
    enum class Side { Zones, Records };
    struct Row {
        std::string key, name, type, data;
    };

    frmMain(clEditor& editor, platform::ILauncher& launcher, IMainDialogs& dialogs,
            IReverseChooser& chooser, platform::SettingsStore& store);

    // Reads the view settings, lists the zones and loads the topmost one.
    void Open();
    // Merges or drops pending PTR records, stores the view settings, saves the zone and the
    // editor's settings.
    void Close();

    // Selecting a zone (click, keyboard or programmatic). False when the zone left could not be
    // saved: the selection then stays where it was.
    bool SelectZone(int index);
    void SelectRecord(const std::string& key) { SelectedRecord = key; }
    void SetFocus(Side side) { Focus = side; }

    std::vector<Row> Rows() const;
    static std::string DataText(const clDNSRecord& record);
    std::string ZoneLabel() const;
    std::string StatusText() const;

    bool CanNewRecord() const;
    bool CanProperties() const;
    bool CanCopy() const;
    bool CanDelete() const;

    void NewRecord();
    void Properties();
    void Copy();
    void Delete();
    void Help();
    void OnlineSupport();
    void SetToolBar(bool shown) { ShowToolBar = shown; }
    void SetStatusBar(bool shown) { ShowStatusBar = shown; }

    // The zone-making commands (frmMain_zones.cpp); without their dialogs the zone side has no
    // Properties or Copy.
    void SetZoneDialogs(IZoneDialogs& dialogs, const kest::IClock& clock);
    void NewZone();
    void QuickDomain();
    void ReverseWizard();
    // The "New" toolbar button: a zone on the zone side, a record on the record side.
    void NewByFocus();
    bool CanNewByFocus() const;

    std::vector<std::string> ZoneList;
    int SelectedZone = -1;
    std::string SelectedRecord;  // key
    Side Focus = Side::Zones;
    bool ShowToolBar = true;
    bool ShowStatusBar = true;
    // Counts redraws of the record list, so the view rebuilds it only when it changed.
    int RecordsVersion = 0;

  private:
    bool ZoneLoaded() const { return ed_.CurrentZoneText != "*"; }
    void Redraw();
    void RecordDialog(const std::string& key, bool copy);
    void DeleteZone();
    void DeleteRecord();
    void OpenUrl(const std::string& url);
    ZoneHost Host();
    bool AddAndSelect(const std::string& text);
    void ZoneProperties();
    void CopyZone();
    void ReverseWizardFor(const std::string& ip, const std::string& name);

    clEditor& ed_;
    platform::ILauncher& launcher_;
    IMainDialogs& dialogs_;
    IReverseChooser& chooser_;
    platform::SettingsStore& store_;
    IZoneDialogs* zoneDialogs_ = nullptr;
    const kest::IClock* clock_ = nullptr;
};

}  // namespace editor
