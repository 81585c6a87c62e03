#include "store/recorded_page.h"

#include <cstdio>

#include "http/http_date.h"
#include "store/text_codec.h"
#include "store/url_map.h"

namespace vellum {
namespace {

constexpr std::size_t kTimestampDigits = 14;

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
