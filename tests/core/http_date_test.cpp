#include "http/http_date.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum {
namespace {

FileTime time_of(std::uint16_t y, std::uint16_t mo, std::uint16_t d, std::uint16_t h, std::uint16_t mi,
                 std::uint16_t s) {
    CalendarTime f;
    f.year = y;
    f.month = mo;
    f.day = d;
    f.hour = h;
    f.minute = mi;
    f.second = s;
    FileTime t = 0;
    EXPECT_TRUE(calendar_to_file_time(f, t));
    return t;
}

std::optional<FileTime> parsed(const std::string& text) {
    FileTime t = 12345;
    if (!parse_http_date(text, t)) {
        EXPECT_EQ(t, 12345u) << "a failed parse must leave the time untouched";
        return std::nullopt;
    }
    return t;
}

TEST(Calendar, KnownFileTimes) {
    EXPECT_EQ(time_of(1601, 1, 1, 0, 0, 0), 0u);
    // 1970-01-01 is 11644473600 seconds after 1601-01-01.
    EXPECT_EQ(time_of(1970, 1, 1, 0, 0, 0), 116444736000000000ull);
    CalendarTime f;
    ASSERT_TRUE(file_time_to_calendar(0, f));
    EXPECT_EQ(f.day_of_week, 1);  // a Monday
    ASSERT_TRUE(file_time_to_calendar(time_of(2024, 2, 29, 23, 59, 59), f));
    EXPECT_EQ(f.year, 2024);
    EXPECT_EQ(f.month, 2);
    EXPECT_EQ(f.day, 29);
    EXPECT_EQ(f.day_of_week, 4);  // Thursday
    EXPECT_EQ(f.second, 59);
}

TEST(Calendar, RejectsWhatThePlatformRejects) {
    FileTime t;
    CalendarTime f;
    f.year = 2023, f.month = 2, f.day = 29;
    EXPECT_FALSE(calendar_to_file_time(f, t));
    f.year = 1900, f.month = 2, f.day = 29;  // century, not a leap year
    EXPECT_FALSE(calendar_to_file_time(f, t));
    f.year = 2000, f.month = 2, f.day = 29;
    EXPECT_TRUE(calendar_to_file_time(f, t));
    f.year = 1600, f.month = 12, f.day = 31;
    EXPECT_FALSE(calendar_to_file_time(f, t));
    f.year = 2000, f.month = 4, f.day = 31;
    EXPECT_FALSE(calendar_to_file_time(f, t));
    EXPECT_FALSE(file_time_to_calendar(0x8000000000000000ull, f));
}

TEST(HttpDate, ThreeFormsGiveTheSameTime) {
    const FileTime expected = time_of(1994, 11, 6, 8, 49, 37);
    EXPECT_EQ(parsed("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(parsed("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_EQ(parsed("Sun Nov 6 08:49:37 1994"), expected);
    EXPECT_EQ(parsed("   Sun, 06 Nov 1994 08:49:37"), expected);  // leading spaces; no zone at all
    EXPECT_EQ(parsed("Xyz, 6-Nov 1994 8:49:37 PST"), expected);  // weekday unchecked; zone ignored
    EXPECT_EQ(parsed("Sun, 06 nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(parsed("Sun, 06 NOV 1994 08:49:37 GMT"), expected);
}

TEST(HttpDate, GrammarRejections) {
    EXPECT_FALSE(parsed("Sun Nov  6 08:49:37 1994"));  // asctime's padded day
    EXPECT_FALSE(parsed("06 Nov 1994 08:49:37 GMT"));  // must start with a letter
    EXPECT_FALSE(parsed("Sun; 06 Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994 08:49 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994"));
    EXPECT_FALSE(parsed("Sun,  Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994  08:49:37 GMT"));  // one space before the hour
    EXPECT_FALSE(parsed("Sun Nov 6 08:49:37"));               // asctime needs the year
    EXPECT_FALSE(parsed(""));
    EXPECT_FALSE(parsed("Sun"));
}

TEST(HttpDate, YearWideningInTheCommaForm) {
    EXPECT_EQ(parsed("Sat, 01 Jan 05 00:00:00 GMT"), time_of(2005, 1, 1, 0, 0, 0));
    EXPECT_EQ(parsed("Sat, 01 Jan 00 00:00:00 GMT"), time_of(2000, 1, 1, 0, 0, 0));
    EXPECT_EQ(parsed("Sat, 01 Jan 10 00:00:00 GMT"), time_of(2010, 1, 1, 0, 0, 0));
    EXPECT_EQ(parsed("Sat, 01 Jan 11 00:00:00 GMT"), time_of(1911, 1, 1, 0, 0, 0));
    EXPECT_EQ(parsed("Sat, 01 Jan 99 00:00:00 GMT"), time_of(1999, 1, 1, 0, 0, 0));
    EXPECT_FALSE(parsed("Sat, 01 Jan 105 00:00:00 GMT"));  // below 1900
    // The asctime form takes the year as it stands.
    EXPECT_FALSE(parsed("Sun Nov 6 08:49:37 94"));
}

TEST(HttpDate, FieldValidation) {
    EXPECT_FALSE(parsed("Sun, 00 Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 32 Nov 1994 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Foo 1994 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994 24:00:00 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994 08:60:00 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1994 08:49:60 GMT"));
    EXPECT_FALSE(parsed("Sun, 06 Nov 1899 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Thu, 31 Apr 2003 08:49:37 GMT"));  // a day April does not have
    EXPECT_FALSE(parsed("Thu, 29 Feb 2003 08:49:37 GMT"));
    EXPECT_TRUE(parsed("Thu, 29 Feb 2004 08:49:37 GMT"));
    EXPECT_TRUE(parsed("Sun, 06 Nov 1900 00:00:00 GMT"));
}

TEST(HttpDate, YearsBeyondFourDigitsAndOversizedNumbersFail) {
    EXPECT_TRUE(parsed("Fri, 31 Dec 9999 23:59:59 GMT"));
    EXPECT_FALSE(parsed("Sat, 01 Jan 10000 00:00:00 GMT"));
    EXPECT_FALSE(parsed("Sun Nov 6 08:49:37 19094"));
    // 67436 would wrap to 1900 in a 16-bit field; 65542 to 6.
    EXPECT_FALSE(parsed("Sun, 06 Nov 67436 08:49:37 GMT"));
    EXPECT_FALSE(parsed("Sun, 65542 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(parsed("Sun, 0006 Nov 1994 08:49:37 GMT"), parsed("Sun, 06 Nov 1994 08:49:37 GMT"));
}

TEST(HttpDate, FormatAndRoundTrip) {
    const FileTime t = time_of(1994, 11, 6, 8, 49, 37);
    const std::string text = format_http_date(t);
    EXPECT_EQ(text, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(text.size(), 29u);
    EXPECT_EQ(parsed(text), t);
    EXPECT_EQ(format_http_date(0), "Mon, 01 Jan 1601 00:00:00 GMT");
    // The weekday is computed, whatever the text said.
    EXPECT_EQ(format_http_date(*parsed("Fri, 01 Dec 2006 12:00:00 GMT")), "Fri, 01 Dec 2006 12:00:00 GMT");
    EXPECT_EQ(format_http_date(*parsed("Mon, 01 Dec 2006 12:00:00 GMT")), "Fri, 01 Dec 2006 12:00:00 GMT");
}

TEST(HttpDate, InputIsLeftAsItWas) {
    std::string text = "Sun, 06 Nov 1994 08:49:37 GMT";
    const std::string before = text;
    FileTime t;
    parse_http_date(text, t);
    EXPECT_EQ(text, before);
}

TEST(MonthNumber, AnyCaseAndNoMatch) {
    EXPECT_EQ(month_number("Jan"), 1);
    EXPECT_EQ(month_number("dec"), 12);
    EXPECT_EQ(month_number("SEP"), 9);
    EXPECT_EQ(month_number(""), 0);
    EXPECT_EQ(month_number("Sept"), 0);
    EXPECT_EQ(month_number("Ja"), 0);
}

TEST(CompactTimestamp, FormatAndParse) {
    const FileTime t = time_of(1994, 11, 6, 8, 49, 37);
    EXPECT_EQ(format_compact_timestamp(t), "19941106084937");
    EXPECT_EQ(parse_compact_timestamp("19941106084937"), t);
    EXPECT_EQ(format_compact_timestamp(time_of(2001, 2, 3, 4, 5, 6)), "20010203040506");
}

TEST(CompactTimestamp, NoRealDateGivesZero) {
    EXPECT_EQ(parse_compact_timestamp("00000000000000"), 0u);
    EXPECT_EQ(parse_compact_timestamp("20030229000000"), 0u);
    EXPECT_EQ(parse_compact_timestamp("19941306084937"), 0u);
    EXPECT_EQ(parse_compact_timestamp("garbage"), 0u);
}

}  // namespace
}  // namespace vellum
