#pragma once
// The quick domain wizard's controller: a new zone with its usual records from a few addresses.
#include <string>

#include "editor/newzone.h"

namespace editor {

class frmQuick {
  public:
    enum class Field { None, Name };

    explicit frmQuick(ZoneHost host);

    // Fills the addresses and the second server from the defaults.
    void Open();
    void NameLeft() { txtName = CleanName(txtName, false); }
    void DNSLeft() { txtDNS = CleanName(txtDNS, false); }
    void UseAsDefault();
    // True when the wizard is to close with the zone made.
    bool OK();

    std::string txtName;
    std::string txtIP1, txtIP2, txtIP3;  // www, mail, ftp
    std::string txtDNS, txtIP4;          // the second name server
    Field FocusWanted = Field::None;

  private:
    ZoneHost host_;
};

}  // namespace editor
