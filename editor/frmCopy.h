#pragma once
// The zone copy dialog's controller: a new zone made from the loaded one under another name.
#include <string>

#include "editor/newzone.h"

namespace editor {

class frmCopy {
  public:
    enum class Field { None, To };

    explicit frmCopy(ZoneHost host);

    // Why the loaded zone cannot be copied ("" when it can); the dialog does not open then.
    static std::string Refusal(const clEditor& ed);
    // Renames a name of the zone txtFrom into the zone txtTo; other names stay.
    std::string Rename(const std::string& name) const;

    void Open();
    void ToLeft() { txtTo = CleanName(txtTo, false); }
    // True when the dialog is to close with the copy made.
    bool OK();

    std::string txtFrom;
    std::string txtTo;
    Field FocusWanted = Field::None;

  private:
    ZoneHost host_;
};

}  // namespace editor
