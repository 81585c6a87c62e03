// Companion file names through parse_companion_name, and content types
// through companion_file_name. The input is read both ways: as a name listed
// beside the page "page.html", and as the Content-Type value of a response
// that is recorded there. It is also read as any name in a save folder: a
// temporary name must lead back to a page that lists it as its own, and a
// name listed beside "page.html" must never be taken both ways. Either way the metadata must come back from the
// name the writer makes, and the name must be one that Windows stores and
// lists back byte for byte.
#include <string>
#include <string_view>

#include "base/lead_byte.h"
#include "fuzz/fuzz_check.h"
#include "http/http_message.h"
#include "http/http_date.h"
#include "store/recorded_page.h"

namespace vellum::fuzz {
namespace {

constexpr std::string_view kSaveFolder = "C:\\save";
constexpr std::string_view kPageName = "page.html";
constexpr std::string_view kPagePath = "C:\\save\\server\\page.html";

// Windows converts a name to UTF-16 by the code page's table: a lead byte
// takes the next byte whatever it is, and a pair that is no character comes
// back as another one. Every trail byte of code page 932 is 0x40 or above.
bool windows_keeps(std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!is_lead_byte(static_cast<unsigned char>(name[i]))) continue;
        if (i + 1 == name.size() || static_cast<unsigned char>(name[i + 1]) < 0x40) return false;
        ++i;
    }
    return true;
}

// The companion's name as the file system lists it beside the page.
std::string written_name(const ServerResponse& response) {
    const std::optional<std::string> path =
        companion_file_name(kSaveFolder, *parse_url("http://server/page.html"), response);
    require(path.has_value(), "a short page path always gets a companion");
    require(path->compare(0, kPagePath.size(), kPagePath) == 0, "the companion is named after its page");
    require(path->size() < kPathBufferSize, "a companion's path is shorter than 260 bytes");
    const std::string name = path->substr(kPagePath.size() - kPageName.size());
    require(windows_keeps(name), "Windows keeps the companion's name as written");
    return name;
}

// A type written in full (not cut to fit MAX_PATH) must read back as it was.
bool fits_in_full(std::string_view type) {
    return kPagePath.size() + 17 + 3 * type.size() < kPathBufferSize;
}

// An empty type is recorded as no type.
std::optional<std::string> untyped_if_empty(std::optional<std::string> type) {
    if (type && type->empty()) return std::nullopt;
    return type;
}

void check_name_read_back(std::string_view listed) {
    const std::optional<CompanionInfo> info = parse_companion_name(kPageName, listed);
    if (!info) return;
    require(info->timestamp.size() == 14, "a companion carries 14 digits");
    require(info->content_type != "none", "\"none\" stands for no type");

    // Read into a stored header, then written again as the recorder would.
    const std::unique_ptr<ServerResponse> stored = stored_response(*info, 1234);
    const std::optional<CompanionInfo> again = parse_companion_name(kPageName, written_name(*stored));
    require(again.has_value(), "the writer's name is read as a companion");

    const FileTime time = parse_compact_timestamp(info->timestamp);
    CalendarTime fields;
    const bool dated = time != 0 && file_time_to_calendar(time, fields) && fields.year >= 1900;
    require(again->timestamp == (dated ? info->timestamp : std::string(kNoTimestamp)),
            "a real date keeps its stamp, any other reads as no date");
    if (!info->content_type || fits_in_full(*info->content_type)) {
        require(again->content_type == untyped_if_empty(info->content_type), "the type survives the round trip");
    }
}

void check_type_written(const std::string& type) {
    // A header value never holds a line break or a zero byte.
    if (type.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return;
    ServerResponse response;
    response.status = 200;
    response.content_type = type;
    response.last_modified_valid = parse_http_date("Sun, 06 Nov 1994 08:49:37 GMT", response.last_modified_time);
    const std::optional<CompanionInfo> info = parse_companion_name(kPageName, written_name(response));
    require(info.has_value(), "every recorded page's companion is found again");
    require(info->timestamp == "19941106084937", "the stamp survives the round trip");
    if (type != "none" && fits_in_full(type)) {
        require(info->content_type == untyped_if_empty(type), "the type survives the round trip");
    }
}

void check_temporary_name(const std::string& name) {
    const PageFiles beside = classify_page_files(kPageName, {PageEntry{name, 0, false}});
    const bool companion = !beside.companions.empty();
    const bool temporary = beside.staged || !beside.markers.empty() || !beside.receiving.empty();
    require(!(companion && temporary), "a name is a companion or a temporary name, never both");
    require(companion == parse_companion_name(kPageName, name).has_value() || name.size() < kPageName.size() ||
                name.compare(0, kPageName.size(), kPageName) != 0,
            "a companion beside the page is what parse_companion_name says");

    const std::optional<std::string> page = page_of_temporary_name(name);
    if (!page) return;
    require(!page->empty() && name.compare(0, page->size(), *page) == 0, "the page's name begins the temporary one");
    const PageFiles files = classify_page_files(*page, {PageEntry{name, 0, false}});
    require(files.staged || files.markers.size() == 1 || files.receiving.size() == 1,
            "the page lists its temporary name as its own");
    require(files.companions.empty(), "a temporary name is no companion of its page");
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum::fuzz;
    const std::string input = input_text(data, size);
    check_name_read_back(input);
    check_type_written(input);
    check_temporary_name(input);
    return 0;
}
