#pragma once
// The main window's zone-making commands show their dialogs through this interface, so the
// commands are tested without a display.
#include "editor/frmArpa.h"
#include "editor/frmCopy.h"
#include "editor/frmQuick.h"
#include "editor/frmZone.h"

namespace editor {

class IZoneDialogs {
  public:
    virtual ~IZoneDialogs() = default;
    virtual void ShowZone(frmZone& dialog) = 0;
    virtual void ShowQuick(frmQuick& dialog) = 0;
    virtual void ShowCopy(frmCopy& dialog) = 0;
    virtual void ShowArpa(frmArpa& dialog) = 0;
};

}  // namespace editor
