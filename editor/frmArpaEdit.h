#pragma once
// The host name dialog of the reverse zone wizard: one name for the selected rows.
#include <string>

#include "editor/zone.h"

namespace editor {

class frmArpaEdit {
  public:
    frmArpaEdit(std::string ip, std::string name)
        : lblIP(std::move(ip)), txtName(std::move(name)) {}
    void NameLeft() { txtName = CleanName(txtName, false); }
    // The name the wizard sets on the selected rows.
    std::string OK() {
        NameLeft();
        return txtName;
    }

    std::string lblIP;
    std::string txtName;
};

}  // namespace editor
