// The tests must run with the Japanese ANSI code page; anything else would
// silently test single-byte behaviour instead.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Environment, AnsiCodePageIs932) {
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_FALSE(IsDBCSLeadByte(0xB1));  // half-width katakana is single-byte
}

TEST(Environment, LiteralsAreShiftJis) {
    // "通" is 0x92 0xCA in code page 932.
    const char text[] = "通";
    ASSERT_EQ(sizeof text, 3u);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x92);
    EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xCA);
}
