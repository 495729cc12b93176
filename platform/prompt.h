#pragma once
// Message boxes: QMessageBox with a display, nothing without one.
#include "platform/host.h"

namespace platform {

// Needs a QApplication; without one it behaves as NullPrompt.
class QtPrompt : public IPrompt {
  public:
    void Message(Icon icon, const std::string& title, const std::string& text) override;
    bool AskYesNo(Icon icon, const std::string& title, const std::string& text) override;
};

// Headless runs: shows nothing and answers no.
class NullPrompt : public IPrompt {
  public:
    void Message(Icon, const std::string&, const std::string&) override {}
    bool AskYesNo(Icon, const std::string&, const std::string&) override { return false; }
};

}  // namespace platform
