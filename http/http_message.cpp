#include "http/http_message.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "http/line_reader.h"
#include "http/http_date.h"
#include "http/url_text.h"

namespace vellum {
namespace {

unsigned char to_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The end of a line's text: its first CR, else its first LF.
std::size_t line_text_end(std::string_view line) {
    std::size_t cr = line.find('\r');
    return cr != std::string_view::npos ? cr : line.find('\n');
}

// The value of a header line: after the first ":" and the spaces that follow,
// up to the first CR (or LF). With stop_at_space the value also ends at the
// first space. None for a line without ":" or without an end.
std::optional<std::string> header_value(std::string_view line, bool stop_at_space = false) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::size_t start = colon + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    std::string_view rest = line.substr(start);
    std::size_t end = line_text_end(rest);
    if (end == std::string_view::npos) return std::nullopt;
    // A space after a stray CR must not pull the CR into the value.
    if (stop_at_space) end = std::min(end, rest.find(' '));
    return std::string(rest.substr(0, end));
}

// The C library's reading of a decimal number: leading white space, an
// optional sign, digits; anything else ends it. Saturates instead of
// overflowing.
long long decimal_value(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 0x7FFF'FFFFLL * 16) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::int32_t clamp_to_int32(long long value) {
    if (value > 0x7FFF'FFFF) return 0x7FFF'FFFF;
    if (value < -0x7FFF'FFFFLL - 1) return -0x7FFF'FFFF - 1;
    return static_cast<std::int32_t>(value);
}

double version_after_slash(std::string_view text) {
    std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

bool is_empty_line(std::string_view line) {
    return line == "\r\n" || line == "\n";
}

// The request line: method, target and version, status 2 or 3 on failure.
void parse_request_line(const std::string& line, ProxyRequest& request, int& status) {
    std::size_t first_space = line.find(' ');
    if (first_space == std::string::npos) {
        status = 3;  // neither method nor target
        return;
    }
    request.method = line.substr(0, first_space);
    std::size_t target_start = line.find_first_not_of(' ', first_space);
    if (target_start == std::string::npos) target_start = line.size();
    std::size_t last_space = line.rfind(' ');
    if (last_space != std::string::npos && last_space >= target_start) {
        request.url = line.substr(target_start, last_space - target_start);
        std::size_t version_start = line.find_first_not_of(' ', last_space);
        if (version_start == std::string::npos) version_start = line.size();
        std::string_view rest = std::string_view(line).substr(version_start);
        if (rest.size() >= 4 && header_name_is(rest, "HTTP")) {
            std::size_t end = line_text_end(rest);
            request.version = std::string(rest.substr(0, end == std::string_view::npos ? rest.size() : end));
            request.version_number = version_after_slash(rest.size() > 5 ? rest.substr(5) : std::string_view());
        }
    } else {
        std::string_view rest = std::string_view(line).substr(target_start);
        std::size_t end = line_text_end(rest);
        if (end == std::string_view::npos) {
            status = 2;
            return;
        }
        request.url = std::string(rest.substr(0, end));
    }
}

void apply_request_header(const std::string& line, ProxyRequest& request, bool own_lines_apply) {
    if (own_lines_apply && line == kAutoGetMarkLine) {
        request.autoget_mark = true;
    } else if (own_lines_apply && line == kForcedGetMarkLine) {
        request.forced_get_mark = true;
    } else if (own_lines_apply && std::string_view(line).starts_with(kLocalPathPrefix)) {
        std::string_view rest = std::string_view(line).substr(std::strlen(kLocalPathPrefix));
        std::size_t end = line_text_end(rest);
        if (end != std::string_view::npos && end < kPathBufferSize) request.local_root = std::string(rest.substr(0, end));
    } else if (header_name_is(line, "referer")) {
        if (auto value = header_value(line, true)) {
            request.parsed_referer = parse_url(*value);
            request.referer = std::move(value);
        }
    } else if (header_name_is(line, "user-agent")) {
        if (auto value = header_value(line)) request.user_agent = std::move(value);
    } else if (header_name_is(line, "if-modified-since")) {
        if (auto value = header_value(line)) {
            FileTime time = 0;
            request.if_modified_since_valid = parse_http_date(*value, time);
            if (request.if_modified_since_valid) request.if_modified_since_time = time;
            request.if_modified_since = std::move(value);
        }
    } else if (header_name_is(line, "authorization")) {
        if (auto value = header_value(line)) request.authorization = std::move(value);
    } else if (header_name_is(line, "content-length")) {
        if (auto value = header_value(line, true)) request.content_length = clamp_to_int32(decimal_value(*value));
    } else if (header_name_is(line, "host")) {
        if (auto value = header_value(line, true)) request.host = std::move(value);
    }
}

// Receives the body the request announced, then drops what the client sends
// after it (some browsers add a line end after a POST body).
void receive_request_body(ByteSource& source, ProxyRequest& request, int& status) {
    if (request.content_length > kMaxRequestBody) {
        status = 5;
        return;
    }
    std::string body(static_cast<std::size_t>(request.content_length), '\0');
    std::size_t received = 0;
    while (received < body.size()) {
        int count = source.receive(body.data() + received, static_cast<int>(body.size() - received));
        if (count <= 0) break;
        received += static_cast<std::size_t>(count);
    }
    if (received == 0) {
        status = 1;
        return;
    }
    body.resize(received);
    request.body = std::move(body);
    while (source.wait_readable(1) == 1) {
        char byte;
        int count = source.receive(&byte, 1);
        if (count < 0) {
            status = 8;
            return;
        }
        if (count == 0) break;
    }
}

bool is_dropped_request_line(std::string_view line, bool drop_if_modified_since) {
    if (is_own_request_line(line)) return true;
    static constexpr std::string_view kDropped[] = {"cookie", "proxy-connection", "if-none-match", "range",
                                                    "if-range", "accept-language", "accept-encoding"};
    for (std::string_view name : kDropped) {
        if (header_name_is(line, name)) return true;
    }
    return drop_if_modified_since && header_name_is(line, "if-modified-since");
}

}  // namespace

bool is_own_request_line(std::string_view line) {
    return line == kAutoGetMarkLine || line == kForcedGetMarkLine || line.starts_with(kLocalPathPrefix);
}

bool header_name_is(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (to_lower(static_cast<unsigned char>(line[i])) != to_lower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<ParsedUrl> parse_url(std::string_view text) {
    ParsedUrl url;
    std::string_view rest = text;
    if (std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (std::size_t question = rest.find('?'); question != std::string_view::npos) {
        url.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        if (!rest.empty()) url.path = std::string(rest);
        return url;
    }
    url.scheme = std::string(rest.substr(0, colon));
    std::string_view after = rest.substr(colon + 1);
    if (!is_web_scheme(*url.scheme)) {
        if (!after.empty()) url.opaque = std::string(after);
        return url;
    }
    if (!after.starts_with("//")) return std::nullopt;
    after.remove_prefix(2);
    std::size_t slash = after.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view authority = after.substr(0, slash);
    if (std::size_t port = authority.find(':'); port != std::string_view::npos) {
        url.host = std::string(authority.substr(0, port));
        url.port = std::string(authority.substr(port + 1));
    } else {
        url.host = std::string(authority);
    }
    url.path = std::string(after.substr(slash));
    return url;
}

std::unique_ptr<ProxyRequest> parse_request(ByteSource& source, int& status, RequestSender sender) {
    auto request = std::make_unique<ProxyRequest>();
    std::optional<LineList> block = read_header_block(source);
    if (!block) {
        status = 1;
        return nullptr;
    }
    request->lines = std::move(*block);

    int line_status = 0;
    parse_request_line(request->lines.front(), *request, line_status);
    if (line_status != 0) {
        status = line_status;
        return nullptr;
    }
    if (!request->method || !request->url) {
        status = 3;
        return nullptr;
    }
    std::optional<ParsedUrl> url = parse_url(*request->url);
    if (!url) {
        status = 4;
        return nullptr;
    }
    request->parsed_url = std::move(*url);

    const bool own_lines_apply = sender == RequestSender::own;
    for (std::size_t i = 1; i < request->lines.size(); ++i) {
        apply_request_header(request->lines[i], *request, own_lines_apply);
    }

    if (request->content_length > 0) {
        int body_status = 0;
        receive_request_body(source, *request, body_status);
        if (body_status != 0) {
            status = body_status;
            return nullptr;
        }
    }
    return request;
}

std::unique_ptr<ServerResponse> parse_response_header(ByteSource& source, int& status) {
    auto response = std::make_unique<ServerResponse>();
    std::optional<LineList> block = read_header_block(source);
    if (!block) {
        status = 1;
        return nullptr;
    }
    response->lines = std::move(*block);

    const std::string& status_line = response->lines.front();
    std::size_t first_space = status_line.find(' ');
    if (first_space == std::string::npos) {
        status = 2;
        return nullptr;
    }
    if (status_line.find(' ', first_space + 1) == std::string::npos) {
        status = 3;
        return nullptr;
    }
    std::size_t slash = status_line.find('/');
    if (slash == std::string::npos || slash > first_space) {
        status = 4;
        return nullptr;
    }
    if (status_line.compare(0, slash, "HTTP") != 0) {
        status = 5;
        return nullptr;
    }
    response->version_number = version_after_slash(std::string_view(status_line).substr(slash + 1));
    response->status = clamp_to_int32(decimal_value(std::string_view(status_line).substr(first_space + 1)));

    for (const std::string& line : response->lines) {
        if (header_name_is(line, "last-modified")) {
            if (auto value = header_value(line)) {
                FileTime time = 0;
                response->last_modified_valid = parse_http_date(*value, time);
                if (response->last_modified_valid) response->last_modified_time = time;
                response->last_modified = std::move(value);
            }
        } else if (header_name_is(line, "content-length")) {
            if (auto value = header_value(line)) response->content_length = clamp_to_int32(decimal_value(*value));
        } else if (header_name_is(line, "content-type")) {
            if (auto value = header_value(line)) response->content_type = std::move(value);
        } else if (header_name_is(line, "WWW-Authenticate")) {
            if (auto value = header_value(line)) response->www_authenticate = std::move(value);
        } else if (header_name_is(line, "set-cookie")) {
            if (auto value = header_value(line)) response->set_cookies.append(std::move(*value));
        } else if (header_name_is(line, "X_kestrelonline_page")) {
            if (auto value = header_value(line)) response->partner_page = std::move(value);
        }
    }
    return response;
}

std::optional<LineList> build_server_request(const LineList& client_lines, const ParsedUrl& url,
                                             bool absolute_form, bool drop_if_modified_since) {
    if (client_lines.empty()) return std::nullopt;
    std::optional<std::string> target = absolute_form ? url_text(url) : url_path_query(url);
    if (!target) return std::nullopt;
    std::optional<std::string> host_text = url_host_port(url);

    const std::string& line = client_lines.front();
    std::size_t first_space = line.find(' ');
    if (first_space == std::string::npos || line.find(' ', first_space + 1) == std::string::npos) {
        return std::nullopt;  // fewer than two spaces
    }
    // The rest of the client's line after its target: from the last space, or
    // the line end when the target is the last word.
    std::size_t target_start = line.find_first_not_of(' ', first_space);
    if (target_start == std::string::npos) target_start = line.size();
    std::size_t last_space = line.rfind(' ');
    std::string_view rest;
    if (last_space >= target_start) {
        rest = std::string_view(line).substr(last_space);
    } else {
        std::size_t end = line_text_end(std::string_view(line).substr(target_start));
        rest = end == std::string_view::npos ? std::string_view() : std::string_view(line).substr(target_start + end);
    }
    std::string request_line = line.substr(0, first_space + 1) + *target;
    request_line += header_name_is(rest, " http/") ? std::string(" HTTP/1.0\r\n") : std::string(rest);

    LineList request(std::move(request_line));
    for (std::size_t i = 1; i < client_lines.size(); ++i) {
        const std::string& header = client_lines[i];
        if (is_dropped_request_line(header, drop_if_modified_since)) continue;
        if (header_name_is(header, "accept:")) {
            request.append("Accept: */*\r\n");
        } else if (host_text && header_name_is(header, "host")) {
            request.append("Host: " + *host_text + "\r\n");
        } else if (is_empty_line(header)) {
            break;
        } else {
            request.append(header);
        }
    }
    return request;
}

std::optional<LineList> build_client_response_header(const LineList& server_lines) {
    if (server_lines.empty()) return std::nullopt;
    const std::string& status_line = server_lines.front();
    std::size_t first_space = status_line.find(' ');
    if (first_space == std::string::npos) return std::nullopt;
    LineList header("HTTP/1.0" + status_line.substr(first_space));
    for (std::size_t i = 1; i < server_lines.size(); ++i) {
        const std::string& line = server_lines[i];
        if (header_name_is(line, "etag") || header_name_is(line, "accept-ranges") ||
            header_name_is(line, "connection")) {
            continue;
        }
        header.append(line);
    }
    return header;
}

}  // namespace vellum
