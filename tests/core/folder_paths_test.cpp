#include "base/folder_paths.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

// "ソ" and "表" end in the byte of the backslash: 0x83 0x5C and 0x95 0x5C.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

TEST(FolderPaths, TrailingBackslashIsACharacterNotAByte) {
    EXPECT_TRUE(ends_with_backslash("C:\\"));
    EXPECT_TRUE(ends_with_backslash("C:\\a\\"));
    EXPECT_FALSE(ends_with_backslash("C:\\a"));
    EXPECT_FALSE(ends_with_backslash(""));
    EXPECT_FALSE(ends_with_backslash("C:\\" + kSo));
    EXPECT_TRUE(ends_with_backslash("C:\\" + kSo + "\\"));
}

TEST(FolderPaths, TypedNamesLoseTheirEdgeBackslashesOnly) {
    EXPECT_EQ(trim_backslashes("new\\"), "new");
    EXPECT_EQ(trim_backslashes("\\\\new\\\\\\"), "new");
    EXPECT_EQ(trim_backslashes("a\\b"), "a\\b");
    EXPECT_EQ(trim_backslashes("\\\\"), "");
    EXPECT_EQ(trim_backslashes(""), "");
    // The trail byte survives; only the real backslash after it goes.
    EXPECT_EQ(trim_backslashes(kSo + "\\"), kSo);
    EXPECT_EQ(trim_backslashes(kSo + kHyo), kSo + kHyo);
    EXPECT_EQ(trim_backslashes("\\" + kHyo + "\\\\"), kHyo);
}

TEST(FolderPaths, DriveRootsAreThreeCharacters) {
    EXPECT_TRUE(is_drive_root("C:\\"));
    EXPECT_TRUE(is_drive_root("z:\\"));
    EXPECT_FALSE(is_drive_root("C:"));
    EXPECT_FALSE(is_drive_root("C:\\a"));
    EXPECT_FALSE(is_drive_root("1:\\"));
    EXPECT_FALSE(is_drive_root("\\\\s"));
}

TEST(FolderPaths, ParentCutsAtTheLastRealBackslash) {
    EXPECT_EQ(parent_folder("C:\\a\\b"), "C:\\a");
    EXPECT_EQ(parent_folder("C:\\a"), "C:\\");
    EXPECT_EQ(parent_folder("C:\\a\\" + kSo), "C:\\a");
    EXPECT_EQ(parent_folder("C:\\" + kHyo + "\\" + kSo), "C:\\" + kHyo);
    EXPECT_EQ(parent_folder("C:\\" + kSo), "C:\\");
    EXPECT_EQ(parent_folder("name"), "name");
}

}  // namespace
}  // namespace vellum
