#pragma once
// Message boxes: QMessageBox with a display, nothing without one.
#include "platform/host.h"

namespace platform {

// Needs a QApplication; without one it behaves as NullPrompt.
class QtPrompt : public IPrompt {
  public:
    void Message(Icon icon, const std::string& title, const std::string& text) override;
    bool AskYesNo(Icon icon, const std::string& title, const std::string& text) override;
    Answer Ask(Icon icon, const std::string& title, const std::string& text, Buttons buttons,
               Answer defaultButton) override;
    std::optional<std::filesystem::path> OpenFileName(const std::string& title,
                                                      const std::filesystem::path& start,
                                                      const std::string& filter) override;
    std::optional<std::filesystem::path> FolderName(const std::string& title,
                                                    const std::filesystem::path& start) override;
    void SetClipboard(const std::string& text) override;
};

// Headless runs: shows nothing and answers no.
class NullPrompt : public IPrompt {
  public:
    void Message(Icon, const std::string&, const std::string&) override {}
    bool AskYesNo(Icon, const std::string&, const std::string&) override { return false; }
    // The answer that closing the box would give.
    Answer Ask(Icon, const std::string&, const std::string&, Buttons buttons, Answer) override {
        switch (buttons) {
            case Buttons::Ok:
                return Answer::Ok;
            case Buttons::YesNo:
                return Answer::No;
            default:
                return Answer::Cancel;
        }
    }
    std::optional<std::filesystem::path> OpenFileName(const std::string&,
                                                      const std::filesystem::path&,
                                                      const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> FolderName(const std::string&,
                                                    const std::filesystem::path&) override {
        return std::nullopt;
    }
    void SetClipboard(const std::string&) override {}
};

}  // namespace platform
