#include "server/reload_command.h"

#include <gtest/gtest.h>

using modMain::ParseReloadCommand;
using modMain::ReloadCommand;

TEST(ReloadCommand, KeywordsInAnyCaseAndZoneNamesCleaned) {
    EXPECT_EQ(ParseReloadCommand("reload").kind, ReloadCommand::kReloadAll);
    EXPECT_EQ(ParseReloadCommand("ReLoAd").kind, ReloadCommand::kReloadAll);

    const auto a = ParseReloadCommand("RELOAD S Example.COM.");
    const auto b = ParseReloadCommand("reload example.com");
    const auto c = ParseReloadCommand("Reload p example.com");
    EXPECT_EQ(a.kind, ReloadCommand::kReloadZone);
    EXPECT_EQ(a.zone, "example.com.");
    EXPECT_EQ(b.zone, "example.com.");
    EXPECT_EQ(c.zone, "example.com.");

    const auto u = ParseReloadCommand("UNLOAD  my zone.org ");
    EXPECT_EQ(u.kind, ReloadCommand::kUnloadZone);
    EXPECT_EQ(u.zone, "myzone.org.");
}

TEST(ReloadCommand, EmptyNamesAndUnknownTexts) {
    const auto root = ParseReloadCommand("RELOAD ");
    EXPECT_EQ(root.kind, ReloadCommand::kReloadZone);
    EXPECT_EQ(root.zone, ".");
    // A zone called "s" is still a zone when no blank follows the letter.
    EXPECT_EQ(ParseReloadCommand("RELOAD s").zone, "s.");
    EXPECT_EQ(ParseReloadCommand("RELOAD S ").zone, ".");
    EXPECT_EQ(ParseReloadCommand("RELOADX").kind, ReloadCommand::kNone);
    EXPECT_EQ(ParseReloadCommand("RELOAD\n").kind, ReloadCommand::kNone);
    EXPECT_EQ(ParseReloadCommand("UNLOAD").kind, ReloadCommand::kNone);
    EXPECT_EQ(ParseReloadCommand("").kind, ReloadCommand::kNone);
    EXPECT_EQ(ParseReloadCommand("delete example.com").kind, ReloadCommand::kNone);
}
