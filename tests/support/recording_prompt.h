#pragma once
// A prompt that shows nothing and remembers every box it was asked to show.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace kest::test {

class RecordingPrompt : public platform::IPrompt {
  public:
    struct Box {
        bool question = false;  // AskYesNo or Ask rather than Message
        Icon icon = Icon::Information;
        std::optional<Buttons> buttons;        // set by Ask
        std::optional<Answer> defaultButton;  // set by Ask
        std::string title;
        std::string text;
    };

    void Message(Icon icon, const std::string& title, const std::string& text) override {
        Record(false, icon, title, text);
        if (during) during();
    }

    bool AskYesNo(Icon icon, const std::string& title, const std::string& text) override {
        Record(true, icon, title, text);
        if (during) during();
        if (answers.empty()) return defaultAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    Answer Ask(Icon icon, const std::string& title, const std::string& text, Buttons buttons,
               Answer defaultButton) override {
        Record(true, icon, title, text);
        boxes.back().buttons = buttons;
        boxes.back().defaultButton = defaultButton;
        if (during) during();
        if (askAnswers.empty()) return defaultButton;
        const Answer answer = askAnswers.front();
        askAnswers.pop_front();
        return answer;
    }

    std::optional<std::filesystem::path> OpenFileName(const std::string& title,
                                                      const std::filesystem::path& start,
                                                      const std::string& filter) override {
        choosers.push_back({title, start, filter});
        return chosenFile;
    }

    std::optional<std::filesystem::path> FolderName(const std::string& title,
                                                    const std::filesystem::path& start) override {
        choosers.push_back({title, start, {}});
        return chosenFolder;
    }

    void SetClipboard(const std::string& text) override { clipboard = text; }

    void Record(bool question, Icon icon, const std::string& title, const std::string& text) {
        Box box;
        box.question = question;
        box.icon = icon;
        box.title = title;
        box.text = text;
        boxes.push_back(box);
    }

    // The texts of all boxes, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& b : boxes) texts.push_back(b.text);
        return texts;
    }

    std::vector<Box> boxes;
    std::deque<bool> answers;  // given to AskYesNo in turn, then defaultAnswer
    bool defaultAnswer = false;
    std::function<void()> during;  // runs while the box is open
    std::deque<Answer> askAnswers;  // given to Ask in turn, then its default button

    struct Chooser {
        std::string title;
        std::filesystem::path start;
        std::string filter;
    };
    std::vector<Chooser> choosers;
    std::optional<std::filesystem::path> chosenFile;
    std::optional<std::filesystem::path> chosenFolder;
    std::string clipboard;
};

}  // namespace kest::test
