#pragma once
// The zone properties dialog's controller: a new zone, or the SOA values, role, primary address,
// notify list and transfer restriction of the loaded one.
#include <cstdint>
#include <string>
#include <vector>

#include "editor/newzone.h"

namespace editor {

class frmZone {
  public:
    enum class Tab { General, Transfers, Notify };
    enum class Field { None, Name, PrimS, EMail, PrimIP, Serial, Refresh, Retry, Expire };

    explicit frmZone(ZoneHost host);

    // Fills the dialog from the defaults and, for an existing zone, from Zone.
    void LoadZone(bool newZone);

    void NameEntered();
    void NameLeft();
    void EMailLeft();
    void PrimSLeft();
    void SerialLeft();
    void PrimaryClicked(bool primary) { chkPrimary = primary; }
    void Add();
    void Remove();
    void ListClicked(int index);
    // Runs the checks; true when the dialog is to close with the zone stored.
    bool OK();
    void UseAsDefault();

    bool NewZone = true;
    std::string Caption;
    std::string txtName;
    bool chkPrimary = true;
    std::string txtPrimS;
    std::string txtEMail;
    int32_t minTTL = 0;
    std::string txtPrimIP;
    std::string txtSer;
    int32_t txtTTL[3] = {0, 0, 0};
    std::vector<std::string> List1;
    std::string txtIP;
    bool chkOS = true;

    bool NameLocked() const { return !NewZone; }
    // A secondary's SOA fields are locked; a primary's address of the primary is.
    bool SoaLocked() const { return !chkPrimary; }
    bool PrimIPLocked() const { return chkPrimary; }

    Tab TabWanted = Tab::General;     // where the view switches after a failed check
    Field FocusWanted = Field::None;  // and where it puts the focus

  private:
    void Warn(const std::string& text, Tab tab, Field field);
    std::string MailboxName() const;  // the mailbox in name form, without final dot
    std::string ZoneText() const;

    ZoneHost host_;
};

}  // namespace editor
