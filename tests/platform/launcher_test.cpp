#include "platform/launcher.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;
using V = std::vector<std::string>;

TEST(Launcher, EditorIsVisualThenEditorThenXdgOpen) {
    {
        ScopedEnv visual("VISUAL", "code  -w");
        ScopedEnv editor("EDITOR", "vi");
        EXPECT_EQ(platform::Launcher::EditorCommand("/p/k.ini"), (V{"code", "-w", "/p/k.ini"}));
    }
    {
        ScopedEnv visual("VISUAL", "  ");
        ScopedEnv editor("EDITOR", "nano");
        EXPECT_EQ(platform::Launcher::EditorCommand("/p/k.ini"), (V{"nano", "/p/k.ini"}));
    }
    {
        ScopedEnv visual("VISUAL", nullptr);
        ScopedEnv editor("EDITOR", nullptr);
        EXPECT_EQ(platform::Launcher::EditorCommand("/p/k.ini"), (V{"xdg-open", "/p/k.ini"}));
    }
}

TEST(Launcher, StartReportsAProgramThatCannotStart) {
    platform::Launcher launcher;
    EXPECT_TRUE(launcher.Start("/bin/true", {}));
    EXPECT_FALSE(launcher.Start("/no/such/program", {"x"}));
    EXPECT_FALSE(launcher.Start("", {}));
}
