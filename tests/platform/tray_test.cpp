#include "platform/tray.h"

#include <gtest/gtest.h>

#include "tests/support/recording_prompt.h"

TEST(Tray, WithoutADisplayTheStateIsKept) {
    platform::Tray tray;
    EXPECT_FALSE(tray.Shown());
    tray.SetTip("Kestrune");
    tray.Show();
    tray.SetIcon(2);
    EXPECT_FALSE(tray.HasSystemTray());
    EXPECT_TRUE(tray.Shown());
    EXPECT_EQ(tray.Icon(), 2);
    EXPECT_EQ(tray.Tip(), "Kestrune");
    tray.Remove();
    EXPECT_FALSE(tray.Shown());
    EXPECT_EQ(tray.Icon(), 2);
}

TEST(RecordingPrompt, RecordsBoxesAndGivesQueuedAnswers) {
    kest::test::RecordingPrompt prompt;
    platform::IPrompt& p = prompt;
    p.Message(platform::IPrompt::Icon::Warning, "Kestrune", "Could not start DNS service!");
    prompt.answers = {true};
    EXPECT_TRUE(p.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Save?"));
    EXPECT_FALSE(p.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Again?"));
    ASSERT_EQ(prompt.boxes.size(), 3u);
    EXPECT_FALSE(prompt.boxes[0].question);
    EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Warning);
    EXPECT_EQ(prompt.Texts(),
              (std::vector<std::string>{"Could not start DNS service!", "Save?", "Again?"}));
}
