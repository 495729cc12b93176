#include "platform/paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

TEST(Paths, AnExecutableInUsrBinKeepsItsDataInVarLib) {
    EXPECT_EQ(platform::ProgramDirectoryFor("/usr/bin/kestserv", nullptr), "/var/lib/kestrune");
    EXPECT_EQ(platform::ProgramDirectoryFor("/bin/lookup", ""), "/var/lib/kestrune");
    // $KESTRUNE_HOME still wins, and other places keep the executable's folder.
    EXPECT_EQ(platform::ProgramDirectoryFor("/usr/bin/kestserv", "/srv/k"), "/srv/k");
    EXPECT_EQ(platform::ProgramDirectoryFor("/usr/local/bin/kestserv", nullptr), "/usr/local/bin");
    EXPECT_EQ(platform::ProgramDirectoryFor("/home/a/usr/bin/kestserv", nullptr),
              "/home/a/usr/bin");
    EXPECT_EQ(platform::ProgramDirectoryFor("/usr/bin/sub/kestserv", nullptr), "/usr/bin/sub");
}

TEST(Paths, SeedingCopiesOnlyWhatIsMissingAndMakesTheFolders) {
    kest::test::TempDir tmp;
    const auto examples = tmp.path() / "examples";
    const auto home = tmp.path() / "home";
    std::filesystem::create_directories(examples);
    std::filesystem::create_directories(home);
    auto write = [](const std::filesystem::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    };
    auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    write(examples / "kestrund.ini", "DNSRecursion: <none>\r\n");
    write(examples / "named.root", "hints\r\n");
    write(examples / "whois.dat", "com : whois.example\r\n");
    write(home / "kestrund.ini", "Name: mine\r\n");

    EXPECT_EQ(platform::SeedProgramDirectory(home, examples),
              (std::vector<std::string>{"named.root", "whois.dat"}));
    EXPECT_EQ(read(home / "kestrund.ini"), "Name: mine\r\n");
    EXPECT_EQ(read(home / "named.root"), "hints\r\n");
    EXPECT_EQ(read(home / "whois.dat"), "com : whois.example\r\n");
    EXPECT_TRUE(std::filesystem::is_directory(home / "data"));
    EXPECT_TRUE(std::filesystem::is_directory(home / "logs"));

    // A second start finds everything there; a file the user deleted comes back.
    EXPECT_TRUE(platform::SeedProgramDirectory(home, examples).empty());
    std::filesystem::remove(home / "named.root");
    EXPECT_EQ(platform::SeedProgramDirectory(home, examples),
              std::vector<std::string>{"named.root"});

    // A program directory that does not exist yet is made.
    EXPECT_EQ(platform::SeedProgramDirectory(tmp.path() / "new" / "dir", examples).size(), 3u);
    // No examples (a build-tree executable): nothing happens.
    EXPECT_TRUE(platform::SeedProgramDirectory(tmp.path() / "none", {}).empty());
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "none"));
    // The test binary is not installed.
    EXPECT_TRUE(platform::InstalledExamples().empty());
}

TEST(Paths, EveryManualPageTheProgramsOpenIsThere) {
    // A build-tree program opens the manual of its source tree.
    for (const char* page : {"index.html", "server.html", "settings.html", "zones.html",
                             "editor.html", "lookup.html", "replication.html", "dhcp.html",
                             "files.html"}) {
        const auto path = platform::ManualPage(page);
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
        EXPECT_EQ(platform::ManualUrl(page), "file://" + path.string());
    }
}
