#include "vellumie/installer_paths.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(InstallerPaths, BesideTheProgram) {
    const InstallerPaths paths = installer_paths("C:\\Program Files\\Vellum\\vellumie.exe");
    EXPECT_EQ(paths.component, "C:\\Program Files\\Vellum\\tessel.dll");
    EXPECT_EQ(paths.page, "C:\\Program Files\\Vellum\\ReserveAutoGet.htm");
    EXPECT_EQ(paths.parent_page, "C:\\Program Files\\Vellum\\ReserveAutoGetParent.htm");
    EXPECT_EQ(paths.chrome_host_manifest, "C:\\Program Files\\Vellum\\vellumhost-chrome.json");
    EXPECT_EQ(paths.firefox_host_manifest, "C:\\Program Files\\Vellum\\vellumhost-firefox.json");
}

TEST(InstallerPaths, TrailBytesOfTheBackslashCodeAreNotSeparators) {
    // Folder "表示" (表 = 0x95 0x5C), program "ソフト.exe" (ソ = 0x83 0x5C).
    const InstallerPaths paths = installer_paths("C:\\\x95\x5C\x8E\xA6\\\x83\x5C\x83t\x83g.exe");
    EXPECT_EQ(paths.component, "C:\\\x95\x5C\x8E\xA6\\tessel.dll");
}

TEST(InstallerPaths, NoSeparatorKeepsTheWholeText) {
    EXPECT_EQ(installer_paths("vellumie.exe").page, "vellumie.exe\\ReserveAutoGet.htm");
}

}  // namespace
}  // namespace vellum
