#include "http/http_date.h"

#include <algorithm>
#include <cstdio>

namespace vellum {
namespace {

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr FileTime kTicksPerSecond = 10'000'000;
constexpr FileTime kTicksPerDay = kTicksPerSecond * 86'400;
// The platform refuses file times with the top bit set.
constexpr FileTime kLargestFileTime = 0x7FFF'FFFF'FFFF'FFFFull;

bool is_leap(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned days_in_month(unsigned year, unsigned month) {
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// well-known era-based algorithms; years run from March so the leap day is last).
long long days_from_civil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long year_of_era = year - era * 400;
    const long long day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void civil_from_days(long long days, long long& year, unsigned& month, unsigned& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long day_of_era = days - era * 146097;
    const long long year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long shifted_month = (5 * day_of_year + 2) / 153;
    day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    month = static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    year = year_of_era + era * 400 + (month <= 2);
}

const long long kDays1601To1970 = -days_from_civil(1601, 1, 1);

bool is_ascii_letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// A cursor over the date text. Numeric fields are read into 16 bits, as the
// platform's calendar fields hold them.
class DateScanner {
public:
    explicit DateScanner(std::string_view text) : text_(text) {}

    unsigned char peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : 0; }
    void skip_spaces() {
        while (peek() == ' ') ++pos_;
    }
    bool take(char c) {
        if (peek() != static_cast<unsigned char>(c)) return false;
        ++pos_;
        return true;
    }
    std::string_view letters() {
        std::size_t start = pos_;
        while (is_ascii_letter(peek())) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    bool number(std::uint16_t& value) {
        if (!is_digit(peek())) return false;
        // A number too large for the field saturates, so that validation
        // refuses it instead of taking what is left after wrapping.
        unsigned accumulated = 0;
        while (is_digit(peek())) {
            accumulated = std::min(accumulated * 10 + (peek() - '0'), 0xFFFFu);
            ++pos_;
        }
        value = static_cast<std::uint16_t>(accumulated);
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool parse_comma_form(DateScanner& in, CalendarTime& t) {
    in.skip_spaces();
    if (!in.number(t.day) || !(in.take(' ') || in.take('-'))) return false;
    std::string_view month = in.letters();
    if (month.empty() || !(in.take(' ') || in.take('-'))) return false;
    t.month = static_cast<std::uint16_t>(month_number(month));
    if (!in.number(t.year) || !in.take(' ')) return false;
    if (t.year <= 10) {
        t.year = static_cast<std::uint16_t>(t.year + 2000);
    } else if (t.year <= 99) {
        t.year = static_cast<std::uint16_t>(t.year + 1900);
    }
    if (!in.number(t.hour) || !in.take(':')) return false;
    if (!in.number(t.minute) || !in.take(':')) return false;
    return in.number(t.second);  // the zone that follows is not examined
}

bool parse_asctime_form(DateScanner& in, CalendarTime& t) {
    in.skip_spaces();
    std::string_view month = in.letters();
    if (month.empty() || !in.take(' ')) return false;
    t.month = static_cast<std::uint16_t>(month_number(month));
    // A day padded with a second space does not parse.
    if (!in.number(t.day) || !in.take(' ')) return false;
    if (!in.number(t.hour) || !in.take(':')) return false;
    if (!in.number(t.minute) || !in.take(':')) return false;
    if (!in.number(t.second) || !in.take(' ')) return false;
    return in.number(t.year);
}

}  // namespace

bool calendar_to_file_time(const CalendarTime& f, FileTime& time) {
    if (f.year < 1601 || f.year > 30827) return false;
    if (f.month < 1 || f.month > 12) return false;
    if (f.day < 1 || f.day > days_in_month(f.year, f.month)) return false;
    if (f.hour > 23 || f.minute > 59 || f.second > 59 || f.milliseconds > 999) return false;
    FileTime days = static_cast<FileTime>(days_from_civil(f.year, f.month, f.day) + kDays1601To1970);
    time = days * kTicksPerDay + (f.hour * 3600ull + f.minute * 60ull + f.second) * kTicksPerSecond +
           f.milliseconds * 10'000ull;
    return true;
}

bool file_time_to_calendar(FileTime time, CalendarTime& f) {
    if (time > kLargestFileTime) return false;
    FileTime days = time / kTicksPerDay;
    FileTime rest = time % kTicksPerDay;
    f.day_of_week = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    f.milliseconds = static_cast<std::uint16_t>(rest % kTicksPerSecond / 10'000);
    FileTime seconds = rest / kTicksPerSecond;
    f.hour = static_cast<std::uint16_t>(seconds / 3600);
    f.minute = static_cast<std::uint16_t>(seconds / 60 % 60);
    f.second = static_cast<std::uint16_t>(seconds % 60);

    long long year;
    unsigned month, day;
    civil_from_days(static_cast<long long>(days) - kDays1601To1970, year, month, day);
    f.year = static_cast<std::uint16_t>(year);
    f.month = static_cast<std::uint16_t>(month);
    f.day = static_cast<std::uint16_t>(day);
    return true;
}

std::string format_http_date(FileTime time) {
    CalendarTime f;
    file_time_to_calendar(time, f);
    const char* day_name = f.day_of_week <= 6 ? kDayNames[f.day_of_week] : "Sun";
    const char* month_name = (f.month >= 1 && f.month <= 12) ? kMonthNames[f.month] : "";
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", day_name, f.day, month_name, f.year,
                  f.hour, f.minute, f.second);
    return text;
}

bool parse_http_date(std::string_view text, FileTime& time) {
    DateScanner in(text);
    in.skip_spaces();
    if (in.letters().empty()) return false;  // the weekday name is neither checked nor used
    CalendarTime t;
    if (in.take(',')) {
        if (!parse_comma_form(in, t)) return false;
    } else if (in.take(' ')) {
        if (!parse_asctime_form(in, t)) return false;
    } else {
        return false;
    }
    // Both notations the store writes a date in have four-digit years: a
    // later year would make a longer date header and a timestamp that no
    // companion reader accepts.
    if (t.year < 1900 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 ||
        t.minute > 59 || t.second > 59) {
        return false;
    }
    FileTime parsed;
    if (!calendar_to_file_time(t, parsed)) return false;  // 31 April, 29 February of a common year
    time = parsed;
    return true;
}

int month_number(std::string_view name) {
    for (int i = 0; i < 13; ++i) {
        std::string_view entry = kMonthNames[i];
        if (entry.size() != name.size()) continue;
        bool equal = true;
        for (std::size_t k = 0; k < name.size() && equal; ++k) {
            unsigned char a = static_cast<unsigned char>(name[k]);
            unsigned char b = static_cast<unsigned char>(entry[k]);
            if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
            if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
            equal = a == b;
        }
        if (equal) return i;
    }
    return 0;
}

std::string format_compact_timestamp(FileTime time) {
    CalendarTime f;
    file_time_to_calendar(time, f);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", f.year, f.month, f.day, f.hour, f.minute,
                  f.second);
    return text;
}

FileTime parse_compact_timestamp(std::string_view text) {
    std::string copy(text);
    CalendarTime f;
    unsigned short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::sscanf(copy.c_str(), "%4hu%2hu%2hu%2hu%2hu%2hu", &year, &month, &day, &hour, &minute, &second);
    f.year = year;
    f.month = month;
    f.day = day;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    FileTime time = 0;
    if (!calendar_to_file_time(f, time)) return 0;
    return time;
}

}  // namespace vellum
