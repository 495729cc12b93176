#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

using kest::test::TempDir;

TEST(SettingsStore, ValuesSurviveAReopenAndBadNumbersReadAsFallback) {
    TempDir dir;
    const auto file = dir.path() / "window.ini";
    {
        platform::SettingsStore store(file);
        store.SetString("frmMain", "Caption", "Kestrune - pc 1");
        store.SetInt("frmMain", "Left", -120);
        store.SetString("frmMain", "Width", "wide");
        store.SetInt("frmQuery", "Left", 7);
        EXPECT_TRUE(store.Sync());
    }
    platform::SettingsStore store(file);
    EXPECT_EQ(store.GetString("frmMain", "Caption"), "Kestrune - pc 1");
    EXPECT_EQ(store.GetInt("frmMain", "Left"), -120);
    EXPECT_EQ(store.GetInt("frmQuery", "Left"), 7);
    EXPECT_EQ(store.GetInt("frmMain", "Width", 640), 640);
    EXPECT_EQ(store.GetInt("frmMain", "Missing", 5), 5);
    EXPECT_EQ(store.GetString("frmMain", "Missing", "dflt"), "dflt");
    EXPECT_TRUE(store.Contains("frmMain", "Left"));
    store.Remove("frmMain", "Left");
    EXPECT_FALSE(store.Contains("frmMain", "Left"));
    EXPECT_TRUE(store.Contains("frmQuery", "Left"));
}
