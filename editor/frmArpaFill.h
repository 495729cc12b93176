#pragma once
// The auto fill dialog of the reverse zone wizard: a domain the selected rows' names are made in.
#include <string>

#include "editor/zone.h"

namespace editor {

class frmArpaFill {
  public:
    void DomainLeft() { txtDomain = CleanName(txtDomain, false); }
    // The domain the wizard fills the selected rows from ("" does nothing).
    std::string OK() {
        DomainLeft();
        return txtDomain;
    }

    std::string txtDomain;
};

}  // namespace editor
