#include "store/text_codec.h"

#include <cstdio>

#include "base/lead_byte.h"

namespace vellum {
namespace {

// Texts end at their first zero byte, wherever it came from.
void cut_at_zero(std::string& text) {
    const auto zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
}

// 0-15, or -1. Both cases are accepted; output is always upper case.
int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

bool starts_with_at(const std::string& text, std::size_t at, std::string_view word) {
    return text.compare(at, word.size(), word) == 0;
}

bool needs_file_name_escape(unsigned char byte) {
    switch (byte) {
    case '?': case '"': case '/': case '\\': case '<': case '>':
    case '*': case '|': case ':': case '%':
        return true;
    default:
        return byte < 0x20 || byte >= 0x80;
    }
}

}  // namespace

void decode_html_entities(std::string& text) {
    cut_at_zero(text);
    struct Named {
        std::string_view entity;
        char value;
    };
    static constexpr Named kNamed[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&amp;", '&'}};

    std::size_t out = 0;
    std::size_t in = 0;
    const std::size_t length = text.size();
    while (in < length) {
        const char ch = text[in];
        if (is_lead_byte(static_cast<unsigned char>(ch))) {
            text[out++] = text[in++];
            if (in < length) text[out++] = text[in++];
            continue;
        }
        if (ch == '&') {
            bool named = false;
            for (const auto& entry : kNamed) {
                if (starts_with_at(text, in, entry.entity)) {
                    text[out++] = entry.value;
                    in += entry.entity.size();
                    named = true;
                    break;
                }
            }
            if (named) continue;
            if (in + 4 < length && text[in + 1] == '#' && text[in + 4] == ';') {
                const int high = hex_value(text[in + 2]);
                const int low = hex_value(text[in + 3]);
                if (high >= 0 && low >= 0) {
                    text[out++] = static_cast<char>(high * 16 + low);
                    in += 5;
                    continue;
                }
            }
        }
        text[out++] = text[in++];
    }
    text.resize(out);
    cut_at_zero(text);  // "&#00;" ends the text
}

void percent_decode(std::string& text, bool plus_as_space) {
    cut_at_zero(text);
    std::size_t out = 0;
    std::size_t in = 0;
    const std::size_t length = text.size();
    while (in < length) {
        const char ch = text[in];
        if (plus_as_space && ch == '+') {
            text[out++] = ' ';
            ++in;
            continue;
        }
        if (ch == '%' && in + 2 < length) {
            const int high = hex_value(text[in + 1]);
            const int low = hex_value(text[in + 2]);
            if (high >= 0 && low >= 0) {
                text[out++] = static_cast<char>(high * 16 + low);
                in += 3;
                continue;
            }
        }
        text[out++] = text[in++];
    }
    text.resize(out);
    cut_at_zero(text);  // "%00" ends the text
}

void escape_for_file_name(std::string& text) {
    cut_at_zero(text);
    std::string escaped;
    escaped.reserve(text.size() * 3);
    const std::size_t length = text.size();
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // Windows pairs a lead byte with whatever byte follows it. When that
        // byte can't be a trail byte (no double-byte code page has one below
        // 0x40), or there is none, the pair would swallow a "%", "(", ")" or
        // the separator after the element, and would come back from a folder
        // listing as another character; such a lead byte is escaped alone.
        if (is_lead_byte(byte) && i + 1 < length && static_cast<unsigned char>(text[i + 1]) >= 0x40) {
            escaped += text[i];
            escaped += text[++i];
            continue;
        }
        if (needs_file_name_escape(byte)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            escaped += hex;
        } else {
            escaped += text[i];
        }
    }
    text = std::move(escaped);
}

std::string base64_encode(std::string_view source) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    source = source.substr(0, source.find('\0'));
    std::string out;
    out.reserve((source.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= source.size(); i += 3) {
        const unsigned group = static_cast<unsigned char>(source[i]) << 16 |
                               static_cast<unsigned char>(source[i + 1]) << 8 |
                               static_cast<unsigned char>(source[i + 2]);
        out += kAlphabet[group >> 18 & 0x3F];
        out += kAlphabet[group >> 12 & 0x3F];
        out += kAlphabet[group >> 6 & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = source.size() - i;
    if (rest == 1) {
        const unsigned group = static_cast<unsigned char>(source[i]) << 16;
        out += kAlphabet[group >> 18 & 0x3F];
        out += kAlphabet[group >> 12 & 0x3F];
        out += "==";
    } else if (rest == 2) {
        const unsigned group = static_cast<unsigned char>(source[i]) << 16 |
                               static_cast<unsigned char>(source[i + 1]) << 8;
        out += kAlphabet[group >> 18 & 0x3F];
        out += kAlphabet[group >> 12 & 0x3F];
        out += kAlphabet[group >> 6 & 0x3F];
        out += '=';
    }
    return out;
}

}  // namespace vellum
