#include "platform/paths.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;

TEST(Paths, ProgramDirectoryFollowsKestruneHomeElseTheExecutable) {
    const auto exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(exe));
    EXPECT_EQ(exe.filename(), "test_platform_host");
    {
        ScopedEnv home("KESTRUNE_HOME", nullptr);
        EXPECT_EQ(platform::ProgramDirectory(), exe.parent_path());
    }
    {
        ScopedEnv home("KESTRUNE_HOME", "");  // empty counts as unset
        EXPECT_EQ(platform::ProgramDirectory(), exe.parent_path());
    }
    {
        ScopedEnv home("KESTRUNE_HOME", "/srv/kestrune");
        EXPECT_EQ(platform::ProgramDirectory(), "/srv/kestrune");
    }
    {
        ScopedEnv home("KESTRUNE_HOME", "rel/dir");
        EXPECT_EQ(platform::ProgramDirectory(), std::filesystem::current_path() / "rel/dir");
    }
}
