// URLs through url_store_path and the names of the files kept beside a page:
// whatever the URL, each must name an ordinary file below its save folder, in
// Windows' reading of the path (tests/core/path_check.h), and fit MAX_PATH.
// The first byte chooses the save folder (each is tried with and without its
// final backslash) and whether the rest is URL text or the parts of a record
// cut at LF (host, port, path, query): records that parse_url never makes,
// such as a host with "/" or a path without its leading "/", must be safe too.
//
// URL text with an LF in it is two URLs, and two URLs may share a file only
// when they are the same page by the mapping's own rules: the same host
// element and path elements once percent-decoded (a "+" as a space in the
// query), "index.html" for a final "/", and letter case aside, since the file
// system ignores it. Anything else sharing a file would overwrite another
// page's recording.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "http/http_message.h"
#include "base/lead_byte.h"
#include "store/recorded_page.h"
#include "store/text_codec.h"
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

std::string decoded(std::string text, bool plus_as_space) {
    percent_decode(text, plus_as_space);
    return text;
}

// The page a URL names, as the mapping sees it before it escapes: one
// decoded text per element of the relative path.
std::vector<std::string> page_elements(const ParsedUrl& url) {
    // The scheme is part of the page: http:// and https:// of one host are two.
    std::vector<std::string> elements{*url.scheme, decoded(*url.host + (url.port ? ":" + *url.port : ""), false)};
    const std::string& path = *url.path;
    std::string last;
    for (std::size_t position = 0; position < path.size();) {
        const std::size_t slash = path.find('/', position);
        if (slash == std::string::npos) {
            last = decoded(path.substr(position), false);
            break;
        }
        if (slash > position || position > 0) elements.push_back(decoded(path.substr(position, slash - position), false));
        if (slash + 1 == path.size()) last = "index.html";
        position = slash + 1;
    }
    if (url.query) last += decoded("?" + *url.query, true);
    elements.push_back(std::move(last));
    return elements;
}

// Letter case folded as the file system folds it: single-byte letters only,
// never the trail byte of a two-byte character. `paired` tells which lead
// bytes take the next byte: in a path every one does (Windows' reading); in
// decoded text only those the escaper keeps whole.
std::string folded(std::string_view text, bool path) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (is_lead_byte(static_cast<unsigned char>(out[i])) && i + 1 < out.size() &&
            (path || static_cast<unsigned char>(out[i + 1]) >= 0x40)) {
            ++i;
            continue;
        }
        out[i] = test::ascii_upper(out[i]);
    }
    return out;
}

void check_distinct_pages(std::string_view folder, const ParsedUrl& a, const ParsedUrl& b) {
    const std::optional<std::string> path_a = url_store_path(folder, a);
    const std::optional<std::string> path_b = url_store_path(folder, b);
    if (!path_a || !path_b || folded(*path_a, true) != folded(*path_b, true)) return;
    std::vector<std::string> pages_a = page_elements(a);
    std::vector<std::string> pages_b = page_elements(b);
    bool same = pages_a.size() == pages_b.size();
    for (std::size_t i = 0; same && i < pages_a.size(); ++i) same = folded(pages_a[i], false) == folded(pages_b[i], false);
    if (!same) std::fprintf(stderr, "%s\n", path_a->c_str());
    require(same, "two different pages never share a file");
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
        url.scheme = data[0] & 0x40 ? "https" : "http";
        url.host = parts.size() > 0 ? parts[0] : "";
        if (parts.size() > 1 && !parts[1].empty()) url.port = parts[1];
        url.path = parts.size() > 2 ? parts[2] : "/";
        if (parts.size() > 3) url.query = parts[3];
        check_folder(folder, url);
        return 0;
    }
    const std::size_t lf = rest.find('\n');
    if (lf == std::string::npos) {
        if (const auto url = parse_url(rest)) check_folder(folder, *url);
        return 0;
    }
    const auto a = parse_url(std::string_view(rest).substr(0, lf));
    const auto b = parse_url(std::string_view(rest).substr(lf + 1));
    if (a) check_folder(folder, *a);
    if (b) check_folder(folder, *b);
    if (a && b && url_relative_file_path(*a) && url_relative_file_path(*b)) check_distinct_pages(folder, *a, *b);
    return 0;
}
