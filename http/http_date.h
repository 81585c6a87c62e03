// The two date notations shared by the HTTP code and the store: the HTTP date
// header text and the compact 14-digit timestamp that names a recorded page's
// Last-Modified time. Times are Windows file times in UTC (FileTime, 100 ns
// units since 1601-01-01). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace vellum {

// Calendar fields as a SYSTEMTIME holds them.
struct CalendarTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day_of_week = 0;  // 0 Sunday
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

// The platform's conversions, with the platform's range and validity rules
// (year 1601-30827, real days only). day_of_week is ignored on input.
bool calendar_to_file_time(const CalendarTime& fields, FileTime& time);
bool file_time_to_calendar(FileTime time, CalendarTime& fields);

inline constexpr char kNoTimestamp[] = "00000000000000";

// 'Sun, 06 Nov 1994 08:49:37 GMT' (29 characters).
std::string format_http_date(FileTime time);
// RFC 1123, RFC 850 and asctime forms; false (time untouched) on any failure.
bool parse_http_date(std::string_view text, FileTime& time);
// 1-12 for a month name in any case, 0 otherwise.
int month_number(std::string_view name);
// YYYYMMDDhhmmss.
std::string format_compact_timestamp(FileTime time);
// The time of a 14-digit timestamp; 0 when it names no real date.
FileTime parse_compact_timestamp(std::string_view text);

}  // namespace vellum
