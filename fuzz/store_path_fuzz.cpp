// URLs through url_store_path and the names of the files kept beside a page:
// whatever the URL, each must name an ordinary file below its save folder, in
// Windows' reading of the path (tests/core/path_check.h), and fit MAX_PATH.
// The first byte chooses the save folder (each is tried with and without its
// final backslash) and whether the rest is URL text or the parts of a record
// cut at LF (host, port, path, query): records that parse_url never makes,
// such as a host with "/" or a path without its leading "/", must be safe too.
#include <array>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "proxy/http_message.h"
#include "store/recorded_page.h"
#include "store/url_map.h"
#include "tests/core/path_check.h"

namespace vellum::fuzz {
namespace {

// 0x95 0x5C (a kanji whose trail byte is the backslash code, spelled in bytes
// because the fuzzing build keeps literals UTF-8) must not pass for the
// folder's final separator.
constexpr std::array<std::string_view, 4> kSaveFolders = {"C:\\save", "C:\\\x95\x5C", "D:\\a b\\vellum", "C:"};

void check_under(std::string_view folder, const std::string& path) {
    require(path.size() < kPathBufferSize, "a store file's path is shorter than 260 bytes");
    const std::string fault = test::store_path_fault(folder, path);
    if (!fault.empty()) std::fprintf(stderr, "%s: %s\n", path.c_str(), fault.c_str());
    require(fault.empty(), "a store file lies below its save folder and names no device");
}

void check_folder(std::string_view folder, const ParsedUrl& url) {
    const std::optional<std::string> path = url_store_path(folder, url);
    const std::string with_backslash = std::string(folder) + "\\";
    require(url_store_path(with_backslash, url) == path, "a final backslash on the folder changes nothing");
    const std::optional<std::string> relative = url_relative_file_path(url);
    if (!path) {
        require(!relative || with_backslash.size() + relative->size() >= kPathBufferSize,
                "only a path of 260 bytes or more is refused");
        return;
    }
    require(relative && *path == with_backslash + *relative, "the store path is the folder and the relative path");
    check_under(folder, *path);

    if (const auto redirect = redirect_file_name(folder, url)) {
        require(*redirect == *path + ".response", "the redirect file is the page's name and .response");
        check_under(folder, *redirect);
    }
    ServerResponse response;
    response.content_type = "text/html";
    if (const auto companion = companion_file_name(folder, url, response)) check_under(folder, *companion);
}

}  // namespace
}  // namespace vellum::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vellum;
    using namespace vellum::fuzz;
    if (size == 0) return 0;
    const std::string_view folder = kSaveFolders[data[0] % kSaveFolders.size()];
    const std::string rest = input_text(data + 1, size - 1);
    if (data[0] & 0x80) {
        const LineList parts = LineList::split(rest, true, false);
        ParsedUrl url;
        url.scheme = "http";
        url.host = parts.size() > 0 ? parts[0] : "";
        if (parts.size() > 1 && !parts[1].empty()) url.port = parts[1];
        url.path = parts.size() > 2 ? parts[2] : "/";
        if (parts.size() > 3) url.query = parts[3];
        check_folder(folder, url);
        return 0;
    }
    const std::optional<ParsedUrl> url = parse_url(rest);
    if (url) check_folder(folder, *url);
    return 0;
}
