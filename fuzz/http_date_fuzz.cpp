// Last-Modified, If-Modified-Since and cookie expiry texts through
// parse_http_date. A date the parser accepts must survive the store's round
// trips: the date header text that rebuilt headers print, and the compact
// timestamp that names a companion file.
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "http/http_date.h"

namespace vellum::fuzz {
namespace {

constexpr FileTime kTicksPerSecond = 10'000'000;
constexpr FileTime kUntouched = 0x0123'4567'89AB'CDEFull;

void check_round_trips(FileTime time) {
    const std::string text = format_http_date(time);
    require(text.size() == 29, "a date header text is 29 characters");
    FileTime again = kUntouched;
    require(parse_http_date(text, again) && again == time, "format then parse gives the same time");

    const std::string stamp = format_compact_timestamp(time);
    require(stamp.size() == 14, "a compact timestamp is 14 digits");
    require(parse_compact_timestamp(stamp) == time, "the compact timestamp gives the same time");
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);

    FileTime time = kUntouched;
    if (parse_http_date(input, time)) {
        require(time % kTicksPerSecond == 0, "a parsed date is a whole second");
        CalendarTime fields;
        require(file_time_to_calendar(time, fields) && fields.year >= 1900, "a parsed date lies after 1900");
        check_round_trips(time);
    } else {
        require(time == kUntouched, "a refused date leaves the time untouched");
    }

    // The first eight bytes as a time: every whole second the store can name
    // (years 1900 to 9999, four digits in both notations) must round-trip.
    if (size >= sizeof(FileTime)) {
        FileTime raw;
        std::memcpy(&raw, data, sizeof raw);
        CalendarTime fields;
        const FileTime whole = raw - raw % kTicksPerSecond;
        if (file_time_to_calendar(whole, fields) && fields.year >= 1900 && fields.year <= 9999) {
            check_round_trips(whole);
        }
    }
    return 0;
}
