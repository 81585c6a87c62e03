#include "store/recorded_page.h"

#include <algorithm>
#include <cstdio>

#include "http/http_date.h"
#include "store/text_codec.h"
#include "store/url_map.h"

namespace vellum {
namespace {

constexpr std::size_t kTimestampDigits = 14;
constexpr std::string_view kStagedSuffix = ".#%new#";
constexpr std::string_view kMarkerInfix = ".#%commit#";

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ".#", at least five digits, "#".
bool is_receiving_suffix(std::string_view rest) {
    if (rest.size() < 8 || !rest.starts_with(".#") || rest.back() != '#') return false;
    return all_digits(rest.substr(2, rest.size() - 3));
}

// A marker's part after P ".#%commit#" must be a companion's part after P.
bool is_companion_suffix(std::string_view suffix) {
    return parse_companion_name("", suffix).has_value();
}

// The index of the companion whose part after the page name is `suffix`.
int companion_with_suffix(const PageFiles& files, std::string_view suffix) {
    for (std::size_t i = 0; i < files.companions.size(); ++i) {
        if (std::string_view(files.companions[i].first).substr(files.page_name_size) == suffix) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool unsigned_less(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

int greatest_companion(const PageFiles& files, int passed_over) {
    int chosen = -1;
    for (std::size_t i = 0; i < files.companions.size(); ++i) {
        if (static_cast<int>(i) == passed_over) continue;
        if (chosen < 0 || unsigned_less(files.companions[chosen].first, files.companions[i].first)) {
            chosen = static_cast<int>(i);
        }
    }
    return chosen;
}

// The companion the only commit marker names (-1 when it is not there), or
// none when there is not exactly one marker: a commit cut short leaves one,
// and the next commit or look-up clears it before another can be made.
std::optional<int> marked_companion(const PageFiles& files) {
    if (files.markers.size() != 1) return std::nullopt;
    const std::string_view marker = files.markers.front();
    return companion_with_suffix(files, marker.substr(files.page_name_size + kMarkerInfix.size()));
}

// The escaped form of a type as a companion name carries it.
std::string escaped_type(std::string type) {
    escape_for_file_name(type);
    std::string escaped;
    escaped.reserve(type.size());
    for (char c : type) {
        if (c == '(') {
            escaped += "%28";
        } else if (c == ')') {
            escaped += "%29";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string companion_path(const std::string& store_path, const std::string& timestamp, const std::string& type) {
    return store_path + "(" + timestamp + " " + type + ")";
}

}  // namespace

std::optional<std::string> companion_file_name(std::string_view save_folder, const ParsedUrl& url,
                                               const ServerResponse& response) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return std::nullopt;
    const std::string timestamp =
        response.last_modified_valid ? format_compact_timestamp(response.last_modified_time) : kNoTimestamp;

    // An empty type would leave the name without the type the reader needs,
    // and the page could never be found again: it is recorded untyped.
    if (response.content_type && !response.content_type->empty()) {
        std::string full = companion_path(*store_path, timestamp, escaped_type(*response.content_type));
        if (full.size() < kPathBufferSize) return full;
        // Too long with its parameters: keep the media type itself.
        std::string media_type = response.content_type->substr(0, response.content_type->find(';'));
        while (!media_type.empty() && media_type.back() == ' ') media_type.pop_back();
        if (!media_type.empty()) {
            std::string shorter = companion_path(*store_path, timestamp, escaped_type(media_type));
            if (shorter.size() < kPathBufferSize) return shorter;
        }
    }
    std::string untyped = companion_path(*store_path, timestamp, "none");
    if (untyped.size() < kPathBufferSize) return untyped;
    return std::nullopt;
}

std::optional<std::string> redirect_file_name(std::string_view save_folder, const ParsedUrl& url) {
    std::optional<std::string> store_path = url_store_path(save_folder, url);
    if (!store_path) return std::nullopt;
    std::string name = *store_path + ".response";
    if (name.size() >= kPathBufferSize) return std::nullopt;
    return name;
}

std::string receiving_file_name(const std::string& store_path, unsigned socket_number) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".#%05u#", socket_number);
    return store_path + suffix;
}

std::string staged_body_name(const std::string& store_path) {
    return store_path + std::string(kStagedSuffix);
}

std::string commit_marker_name(const std::string& store_path, std::string_view companion_suffix) {
    return store_path + std::string(kMarkerInfix) + std::string(companion_suffix);
}

PageFiles classify_page_files(std::string_view page_name, const std::vector<PageEntry>& listing) {
    PageFiles files;
    files.page_name_size = page_name.size();
    std::vector<std::string> receiving;
    for (const PageEntry& entry : listing) {
        if (entry.name.size() < page_name.size()) continue;
        const std::string_view rest = std::string_view(entry.name).substr(page_name.size());
        if (rest.empty()) {
            files.page = entry;
        } else if (entry.folder) {
            continue;
        } else if (rest.front() == '(') {
            // Companions are empty, so a non-empty look-alike page is never one.
            if (entry.size != 0) continue;
            if (auto info = parse_companion_name(page_name, entry.name)) files.companions.emplace_back(entry.name, *info);
        } else if (rest == kStagedSuffix) {
            files.staged = entry.name;
        } else if (rest.starts_with(kMarkerInfix)) {
            if (entry.size == 0 && is_companion_suffix(rest.substr(kMarkerInfix.size()))) files.markers.push_back(entry.name);
        } else if (is_receiving_suffix(rest)) {
            receiving.push_back(entry.name);
        }
    }
    // A URL can name a page "P.#00104#" too: with a companion of its own it
    // is a recorded page, not a receiving file.
    for (std::string& name : receiving) {
        const bool recorded = std::any_of(listing.begin(), listing.end(), [&name](const PageEntry& other) {
            return !other.folder && other.size == 0 && other.name.size() > name.size() &&
                   other.name.compare(0, name.size(), name) == 0 && parse_companion_name(name, other.name);
        });
        if (!recorded) files.receiving.push_back(std::move(name));
    }
    return files;
}

int current_companion(const PageFiles& files) {
    const std::optional<int> marked = marked_companion(files);
    if (!marked) return greatest_companion(files, -1);
    // The staged body still waits: the page is the old one.
    if (files.staged) return greatest_companion(files, *marked);
    return *marked >= 0 ? *marked : greatest_companion(files, -1);
}

std::vector<std::string> leftover_names(const PageFiles& files) {
    std::vector<std::string> names;
    if (const std::optional<int> marked = marked_companion(files)) {
        if (files.staged) {
            // Undo: the new companion, the marker, the staged body.
            if (*marked >= 0) names.push_back(files.companions[*marked].first);
            names.push_back(files.markers.front());
            names.push_back(*files.staged);
        } else {
            // Finish: the old companions, then the marker.
            if (*marked >= 0) {
                for (std::size_t i = 0; i < files.companions.size(); ++i) {
                    if (static_cast<int>(i) != *marked) names.push_back(files.companions[i].first);
                }
            }
            names.push_back(files.markers.front());
        }
    } else if (files.markers.empty() && files.staged) {
        names.push_back(*files.staged);  // the commit stopped before its marker
    }
    names.insert(names.end(), files.receiving.begin(), files.receiving.end());
    return names;
}

std::optional<std::string> page_of_temporary_name(std::string_view name) {
    if (name.size() > kStagedSuffix.size() && name.ends_with(kStagedSuffix)) {
        return std::string(name.substr(0, name.size() - kStagedSuffix.size()));
    }
    if (const std::size_t marker = name.find(kMarkerInfix); marker != std::string_view::npos && marker > 0) {
        if (is_companion_suffix(name.substr(marker + kMarkerInfix.size()))) return std::string(name.substr(0, marker));
    }
    if (name.size() > 1 && name.back() == '#') {
        const std::size_t start = name.rfind(".#", name.size() - 2);
        if (start != std::string_view::npos && start > 0 && is_receiving_suffix(name.substr(start))) {
            return std::string(name.substr(0, start));
        }
    }
    return std::nullopt;
}

std::optional<CompanionInfo> parse_companion_name(std::string_view page_name, std::string_view name) {
    // page name, "(", 14 digits, " ", at least one byte of type, ")"
    const std::size_t start = page_name.size() + 1;
    if (name.size() < start + kTimestampDigits + 3) return std::nullopt;
    if (name[page_name.size()] != '(' || name.back() != ')') return std::nullopt;
    for (std::size_t i = start; i < start + kTimestampDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
    }
    if (name[start + kTimestampDigits] != ' ') return std::nullopt;
    std::string_view type = name.substr(start + kTimestampDigits + 1);
    type.remove_suffix(1);
    if (type.find_first_of("()") != std::string_view::npos) return std::nullopt;

    std::string metadata(name.substr(start, name.size() - 1 - start));
    percent_decode(metadata, false);
    const std::size_t space = metadata.find(' ');
    if (space == std::string::npos) return std::nullopt;
    CompanionInfo info;
    info.timestamp = metadata.substr(0, space);
    std::string decoded_type = metadata.substr(space + 1);
    if (decoded_type != "none") info.content_type = std::move(decoded_type);
    return info;
}

std::unique_ptr<ServerResponse> stored_response(const CompanionInfo& info, std::uint64_t page_size) {
    auto response = std::make_unique<ServerResponse>();
    response->status = 200;
    response->version_number = 1.0;
    response->content_length = -1;
    response->lines.append("HTTP/1.0 200 OK\r\n");
    if (info.timestamp != kNoTimestamp) {
        std::string date = format_http_date(parse_compact_timestamp(info.timestamp));
        response->lines.append("Last-modified: " + date + "\r\n");
        FileTime time = 0;
        response->last_modified_valid = parse_http_date(date, time);
        response->last_modified_time = response->last_modified_valid ? time : 0;
        response->last_modified = std::move(date);
    }
    if (page_size <= 0xFFFF'FFFFull) {
        // The record keeps a signed 32-bit length, as the parsed headers do.
        response->content_length = static_cast<std::int32_t>(static_cast<std::uint32_t>(page_size));
        response->lines.append("Content-length: " + std::to_string(page_size) + "\r\n");
    }
    if (info.content_type) {
        response->lines.append("Content-type: " + *info.content_type + "\r\n");
        response->content_type = info.content_type;
    }
    response->lines.append("\r\n");
    return response;
}

bool recorded_copy_is_current(const ServerResponse& server, const ServerResponse& stored) {
    return server.status == 200 && server.last_modified_valid && stored.last_modified_valid &&
           server.last_modified_time == stored.last_modified_time;
}

}  // namespace vellum
