#include "platform/files.h"

#include <gtest/gtest.h>

#include <system_error>

#include "tests/support/temp_dir.h"
#include "tests/support/write_limit.h"

using kest::test::TempDir;
using platform::SplitLines;

TEST(Files, WriteFileAtomicReplacesWholeAndLeavesNoTemporaryFile) {
    TempDir dir;
    const auto file = dir.path() / "kestrund.ini";
    platform::WriteFileAtomic(file, "old content that is longer\r\n");
    platform::WriteFileAtomic(file, "new\r\n");
    EXPECT_EQ(platform::ReadFile(file), "new\r\n");
    EXPECT_EQ(platform::ListFiles(dir.path()), std::vector<std::filesystem::path>{file});
    platform::WriteFileAtomic(file, "");
    EXPECT_EQ(platform::ReadFile(file), "");

    // A folder that does not exist: an error, and nothing half-written anywhere.
    EXPECT_THROW(platform::WriteFileAtomic(dir.path() / "missing" / "x.ini", "x"),
                 std::system_error);
    // A write that fails half-way leaves the old file as it was and no temporary file.
    platform::WriteFileAtomic(file, "kept\r\n");
    {
        kest::test::ScopedWriteLimit limit(2);
        ASSERT_TRUE(limit.Active());
        EXPECT_THROW(platform::WriteFileAtomic(file, "lost\r\n"), std::system_error);
    }
    EXPECT_EQ(platform::ReadFile(file), "kept\r\n");
    EXPECT_EQ(platform::ListFiles(dir.path()), std::vector<std::filesystem::path>{file});
    EXPECT_FALSE(platform::ReadFile(dir.path() / "absent").has_value());
}

TEST(Files, SplitLinesTakesCrLfAndLfAndJoinWritesCrLf) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines("a\r\nb\nc"), (V{"a", "b", "c"}));
    EXPECT_EQ(SplitLines("a\n\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("\r\n"), V{""});
    EXPECT_EQ(SplitLines("x\r"), V{"x"});  // a cut-off CR LF at the end
    EXPECT_EQ(SplitLines("a\r\r\nb"), (V{"a\r", "b"}));
    EXPECT_EQ(platform::JoinCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(SplitLines(platform::JoinCrLf({"x", "y"})), (V{"x", "y"}));
}

TEST(Files, ListFilesGivesRegularFilesSortedBytewise) {
    TempDir dir;
    for (const char* name : {"b.dns", "A.DNS", "a.dns", "_z.dns"})
        platform::WriteFileAtomic(dir.path() / name, "x");
    std::filesystem::create_directory(dir.path() / "0folder");
    const auto files = platform::ListFiles(dir.path());
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"A.DNS", "_z.dns", "a.dns", "b.dns"}));
    EXPECT_TRUE(platform::ListFiles(dir.path() / "absent").empty());
}
