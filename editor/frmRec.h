#pragma once
// The record dialog's controller: the fields of one record, their normalisations, the checks of
// "O K" with their messages, storing the record in the zone and the PTR for the reverse zone.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "editor/editor.h"

namespace editor {

// The reverse zone chooser: one zone of the candidates, "" when the user cancels.
class IReverseChooser {
  public:
    virtual ~IReverseChooser() = default;
    virtual std::string ChooseReverseZone(const std::vector<std::string>& candidates) = 0;
};

struct RecordType {
    const char* word;
    int16_t code;
    const char* title;   // lblType
    const char* data;    // lbl(1)
    const char* number;  // lbl(2), "" when hidden
};
// The type list in its order: A, NS, CNAME, PTR, MX, SRV, TXT.
const std::array<RecordType, 7>& RecordTypes();

class frmRec {
  public:
    enum class Field { None, Name, Type, IP, PTR, Data, Pref, Weight, Port, TTL, OK };

    // zoneList: the main window's zone texts, searched for the reverse zone of an address.
    frmRec(clEditor& editor, std::vector<std::string> zoneList, IReverseChooser& chooser);

    // Empty key: a new record. Otherwise that record, edited or (makeCopy) copied.
    void LoadRec(const std::string& key, bool makeCopy);
    // Shows the fields of the type at this index of RecordTypes().
    void ChooseType(int index);
    void NameLeft();
    void DataLeft();
    void NumberLeft(Field field);
    // Runs every normalisation and check; true when the dialog is to close (SavedKey is then the
    // record stored, or empty when nothing was).
    bool OK();

    // The fields, as the view shows them (names without final dot).
    std::string txtName;
    int TypeIndex = 0;
    std::string txtIP;  // ctlIP's text
    bool chkPTR = false;
    std::string txtData;
    std::string txtPref = "100";
    std::string txtWeight = "0";
    std::string txtPort;
    int32_t TTL = 3600;  // ctlTTL's seconds

    // How the view shows them.
    bool NameLocked = false;  // name and type list: editing an existing record
    bool ReadOnly = false;    // a secondary zone: nothing can change
    bool ShowIP() const { return Type().code == kA; }
    bool ShowData() const { return Type().code != kA; }
    bool ShowNumber() const { return Type().code == kMX || Type().code == kSRV; }
    bool ShowWeightPort() const { return Type().code == kSRV; }
    const RecordType& Type() const { return RecordTypes()[static_cast<size_t>(TypeIndex)]; }

    std::string RevZone;              // "", a zone text, or "*new*"
    Field FocusWanted = Field::None;  // where the view puts the focus after an event
    std::string SavedKey;

  private:
    // Step 6 of "O K": sets RevZone from the zone list, the mappings or the user.
    void FindReverseZone();
    std::string ZoneText() const;  // the zone name without final dot
    void Warn(const std::string& text, Field focus);

    clEditor& ed_;
    std::vector<std::string> zoneList_;
    IReverseChooser& chooser_;
    std::string editKey_;
};

}  // namespace editor
