#include "base/lead_byte.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vellum {
namespace {

TEST(LeadByte, Cp932Ranges) {
    EXPECT_TRUE(is_lead_byte(0x81));
    EXPECT_TRUE(is_lead_byte(0x9F));
    EXPECT_TRUE(is_lead_byte(0xE0));
    EXPECT_TRUE(is_lead_byte(0xFC));
    EXPECT_FALSE(is_lead_byte(0x80));
    EXPECT_FALSE(is_lead_byte(0xA0));
    EXPECT_FALSE(is_lead_byte(0xB1));
    EXPECT_FALSE(is_lead_byte('\\'));
}

TEST(LeadByte, TrailByteBackslashIsNotASeparator) {
    // "C:\表" : 表 is 0x95 0x5C, whose trail byte is the backslash code.
    const char path[] = "C:\\\x95\x5C";
    EXPECT_EQ(find_last_single_byte(path, static_cast<long>(std::strlen(path)), '\\'), 2);
    const char plain[] = "C:\\dir\\file";
    EXPECT_EQ(find_last_single_byte(plain, static_cast<long>(std::strlen(plain)), '\\'), 6);
    EXPECT_EQ(find_last_single_byte("abc", 3, '\\'), -1);
}

}  // namespace
}  // namespace vellum
