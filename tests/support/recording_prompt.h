#pragma once
// A prompt that shows nothing and remembers every box it was asked to show.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace kest::test {

class RecordingPrompt : public platform::IPrompt {
  public:
    struct Box {
        bool question = false;  // AskYesNo rather than Message
        Icon icon = Icon::Information;
        std::string title;
        std::string text;
    };

    void Message(Icon icon, const std::string& title, const std::string& text) override {
        boxes.push_back({false, icon, title, text});
        if (during) during();
    }

    bool AskYesNo(Icon icon, const std::string& title, const std::string& text) override {
        boxes.push_back({true, icon, title, text});
        if (during) during();
        if (answers.empty()) return defaultAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
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
};

}  // namespace kest::test
