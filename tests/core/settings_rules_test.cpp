#include "shell/settings.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(DefaultSaveFolder, IsTheProgramFolder) {
    EXPECT_EQ(default_save_folder("C:\\Program Files\\Vellum\\vellum.exe"), "C:\\Program Files\\Vellum");
    EXPECT_EQ(default_save_folder("\\\\server\\share\\vellum.exe"), "\\\\server\\share");
    EXPECT_EQ(default_save_folder("vellum.exe"), "");
    EXPECT_EQ(default_save_folder(""), "");
}

TEST(DefaultSaveFolder, DriveRootKeepsItsBackslash) {
    EXPECT_EQ(default_save_folder("X:\\vellum.exe"), "X:\\");
    EXPECT_EQ(default_save_folder("X:\\"), "X:\\");
}

TEST(DefaultSaveFolder, TrailByteIsNoSeparator) {
    // 表 and ソ end in the byte 0x5C.
    EXPECT_EQ(default_save_folder("C:\\表\\vellum.exe"), "C:\\表");
    EXPECT_EQ(default_save_folder("C:\\ソフト表"), "C:\\");
    EXPECT_EQ(default_save_folder("D:\\作業\\ソ"), "D:\\作業");
}

TEST(SelfProxy, OnlyTheOwnDefaultAddressCounts) {
    struct Case {
        const char* address;
        const char* port;
        bool self;
    };
    const Case cases[] = {
        {"localhost", "8080", true},   {"LOCALHOST", "8080", true},  {"LocalHost", "8080", true},
        {"127.0.0.1", "8080", true},   {"localhost", "8081", false}, {"127.0.0.1", "08080", false},
        {"127.0.0.2", "8080", false},  {"localhost ", "8080", false}, {"localhost.", "8080", false},
        {"", "8080", false},           {"proxy.example", "8080", false},
    };
    for (const Case& c : cases) {
        ProxySettings proxy{c.address, c.port, 1};
        EXPECT_EQ(is_self_proxy(proxy), c.self) << c.address << ":" << c.port;
    }
}

TEST(LinkExtensions, StoredTextEndsEveryEntryWithCrLf) {
    EXPECT_EQ(join_link_extensions(LineList{"html", "htm", "shtml"}), "html\r\nhtm\r\nshtml\r\n");
    EXPECT_EQ(join_link_extensions(LineList{"", "php", ""}), "php\r\n");
    EXPECT_EQ(join_link_extensions(LineList{}), "");
    EXPECT_EQ(join_link_extensions(LineList{"", ""}), "");
}

TEST(LinkExtensions, SplitDropsLineEndsAndEmptyLines) {
    EXPECT_EQ(split_link_extensions("html\r\nhtm\r\nshtml"), (LineList{"html", "htm", "shtml"}));
    EXPECT_EQ(split_link_extensions("a\r\n\r\n\nb\nc\r\n"), (LineList{"a", "b", "c"}));
    EXPECT_TRUE(split_link_extensions("").empty());
    const LineList list{"php", "asp", "cgi"};
    EXPECT_EQ(split_link_extensions(join_link_extensions(list)), list);
}

}  // namespace
}  // namespace vellum
