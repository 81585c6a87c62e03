#include "vellumhost/native_message.h"

#include <algorithm>

namespace vellum {
namespace {

// Reads exactly `size` bytes unless the input ends first; returns how many came.
std::size_t read_fully(NativeInput& input, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t count = input.read(buffer + done, size - done);
        if (count == 0) break;
        done += count;
    }
    return done;
}

// Nesting deeper than this is no message the extension sends; the limit
// keeps the recursion of the reader off the end of the stack.
constexpr int kMaxDepth = 64;

// A strict JSON reader (RFC 8259) over the message's bytes. Each reading
// step returns false at the first fault and leaves the reader where it was.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    void skip_space() {
        while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t' ||
                                            text_[position_] == '\n' || text_[position_] == '\r'))
            ++position_;
    }
    bool at_end() const { return position_ == text_.size(); }
    char peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
    bool take(char c) {
        if (peek() != c || at_end()) return false;
        ++position_;
        return true;
    }

    // A string's value, escapes decoded, into `*out` (UTF-8).
    bool read_string(std::string* out) {
        if (!take('"')) return false;
        out->clear();
        while (position_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[position_]);
            if (c == '"') {
                ++position_;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (!read_escape(out)) return false;
            } else if (c < 0x80) {
                out->push_back(static_cast<char>(c));
                ++position_;
            } else if (!copy_utf8_sequence(out)) {
                return false;
            }
        }
        return false;
    }

    // Any value, read and dropped.
    bool skip_value(int depth) {
        if (depth > kMaxDepth) return false;
        skip_space();
        switch (peek()) {
            case '{': return skip_object(depth);
            case '[': return skip_array(depth);
            case '"': {
                std::string ignored;
                return read_string(&ignored);
            }
            case 't': return take_word("true");
            case 'f': return take_word("false");
            case 'n': return take_word("null");
            default: return skip_number();
        }
    }

    bool take_word(std::string_view word) {
        if (text_.substr(position_, word.size()) != word) return false;
        position_ += word.size();
        return true;
    }

private:
    bool skip_object(int depth) {
        take('{');
        skip_space();
        if (take('}')) return true;
        for (;;) {
            skip_space();
            std::string ignored;
            if (!read_string(&ignored)) return false;
            skip_space();
            if (!take(':') || !skip_value(depth + 1)) return false;
            skip_space();
            if (take('}')) return true;
            if (!take(',')) return false;
        }
    }

    bool skip_array(int depth) {
        take('[');
        skip_space();
        if (take(']')) return true;
        for (;;) {
            if (!skip_value(depth + 1)) return false;
            skip_space();
            if (take(']')) return true;
            if (!take(',')) return false;
        }
    }

    bool digits() {
        const std::size_t start = position_;
        while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') ++position_;
        return position_ > start;
    }

    bool skip_number() {
        take('-');
        if (take('0')) {
            // no leading zeros
        } else if (!(peek() >= '1' && peek() <= '9') || !digits()) {
            return false;
        }
        if (take('.') && !digits()) return false;
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        return true;
    }

    bool read_hex4(unsigned* value) {
        if (text_.size() - position_ < 4) return false;
        unsigned result = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[position_ + static_cast<std::size_t>(i)];
            unsigned digit;
            if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
            else return false;
            result = result * 16 + digit;
        }
        position_ += 4;
        *value = result;
        return true;
    }

    bool read_escape(std::string* out) {
        ++position_;  // the backslash
        if (at_end()) return false;
        const char c = text_[position_++];
        switch (c) {
            case '"': out->push_back('"'); return true;
            case '\\': out->push_back('\\'); return true;
            case '/': out->push_back('/'); return true;
            case 'b': out->push_back('\b'); return true;
            case 'f': out->push_back('\f'); return true;
            case 'n': out->push_back('\n'); return true;
            case 'r': out->push_back('\r'); return true;
            case 't': out->push_back('\t'); return true;
            case 'u': break;
            default: return false;
        }
        unsigned code = 0;
        if (!read_hex4(&code)) return false;
        if (code >= 0xDC00 && code <= 0xDFFF) return false;  // a low half alone
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!take_word("\\u") || !read_hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(code, out);
        return true;
    }

    static void append_utf8(unsigned code, std::string* out) {
        if (code < 0x80) {
            out->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (code >> 12)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (code >> 18)));
            out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    // One well-formed UTF-8 sequence of two to four bytes: no overlong form,
    // no surrogate, nothing above U+10FFFF (RFC 3629).
    bool copy_utf8_sequence(std::string* out) {
        const auto lead = static_cast<unsigned char>(text_[position_]);
        std::size_t length;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (text_.size() - position_ < length) return false;
        for (std::size_t i = 1; i < length; ++i) {
            const auto c = static_cast<unsigned char>(text_[position_ + i]);
            if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return false;
        }
        out->append(text_.substr(position_, length));
        position_ += length;
        return true;
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

std::optional<std::string>* known_field(ReservationMessage& message, const std::string& name) {
    if (name == "url") return &message.url;
    if (name == "referer") return &message.referer;
    if (name == "userAgent") return &message.user_agent;
    return nullptr;
}

}  // namespace

NativeRead read_native_message(NativeInput& input, std::string* body) {
    body->clear();
    unsigned char prefix[4];
    const std::size_t got = read_fully(input, reinterpret_cast<char*>(prefix), sizeof prefix);
    if (got == 0) return NativeRead::kEnd;
    if (got < sizeof prefix) return NativeRead::kTruncated;
    const std::uint32_t length = static_cast<std::uint32_t>(prefix[0]) | static_cast<std::uint32_t>(prefix[1]) << 8 |
                                 static_cast<std::uint32_t>(prefix[2]) << 16 |
                                 static_cast<std::uint32_t>(prefix[3]) << 24;
    if (length > kMaxNativeMessageSize) {
        char scrap[4096];
        std::uint32_t left = length;
        while (left > 0) {
            const std::size_t count = read_fully(input, scrap, std::min<std::size_t>(left, sizeof scrap));
            if (count == 0) break;
            left -= static_cast<std::uint32_t>(count);
        }
        return NativeRead::kTooLarge;
    }
    body->resize(length);
    if (read_fully(input, body->data(), length) < length) {
        body->clear();
        return NativeRead::kTruncated;
    }
    return NativeRead::kMessage;
}

std::string frame_native_message(std::string_view json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string framed;
    framed.reserve(4 + json.size());
    for (int shift = 0; shift < 32; shift += 8) framed.push_back(static_cast<char>((length >> shift) & 0xFF));
    framed.append(json);
    return framed;
}

ParsedMessage parse_reservation_message(std::string_view json) {
    ParsedMessage parsed;
    JsonReader reader(json);
    reader.skip_space();
    if (reader.peek() != '{') {
        // Still one well-formed value (a string, an array)? Then only its kind is wrong.
        const bool value = !reader.at_end() && reader.skip_value(0);
        reader.skip_space();
        parsed.error = value && reader.at_end() ? MessageError::kNotAnObject : MessageError::kBadJson;
        return parsed;
    }
    reader.take('{');
    // The first fault of a field is kept while the rest is read: a text that
    // is no JSON at all is told as that, whatever its fields hold.
    MessageError field_error = MessageError::kNone;
    std::string field_name;
    auto bad_json = [&parsed] {
        parsed = ParsedMessage{};
        parsed.error = MessageError::kBadJson;
        return parsed;
    };
    reader.skip_space();
    if (!reader.take('}')) {
        for (;;) {
            reader.skip_space();
            std::string name;
            if (!reader.read_string(&name)) return bad_json();
            reader.skip_space();
            if (!reader.take(':')) return bad_json();
            reader.skip_space();
            std::optional<std::string>* field = known_field(parsed.message, name);
            if (field && reader.peek() == '"') {
                std::string value;
                if (!reader.read_string(&value)) return bad_json();
                if (value.find('\0') != std::string::npos && field_error == MessageError::kNone) {
                    field_error = MessageError::kZeroInField;
                    field_name = name;
                }
                *field = std::move(value);
            } else if (field && reader.peek() == 'n') {
                if (!reader.take_word("null")) return bad_json();
                field->reset();
            } else {
                if (!reader.skip_value(1)) return bad_json();
                if (field && field_error == MessageError::kNone) {
                    field_error = MessageError::kFieldNotText;
                    field_name = name;
                }
            }
            reader.skip_space();
            if (reader.take('}')) break;
            if (!reader.take(',')) return bad_json();
        }
    }
    reader.skip_space();
    if (!reader.at_end()) return bad_json();

    if (field_error != MessageError::kNone) {
        parsed.error = field_error;
        parsed.field = field_name;
        return parsed;
    }
    if (const std::optional<std::string>& url = parsed.message.url) {
        if (url->rfind("http://", 0) != 0 && url->rfind("https://", 0) != 0) parsed.error = MessageError::kUrlNotHttp;
    }
    return parsed;
}

std::string message_error_text(const ParsedMessage& parsed) {
    switch (parsed.error) {
        case MessageError::kNone: return {};
        case MessageError::kBadJson: return "メッセージが JSON として読めません";
        case MessageError::kNotAnObject: return "メッセージが JSON のオブジェクトではありません";
        case MessageError::kFieldNotText: return "メッセージの " + parsed.field + " が文字列ではありません";
        case MessageError::kZeroInField: return "メッセージの " + parsed.field + " に NUL 文字があります";
        case MessageError::kUrlNotHttp: return "URL が http:// または https:// で始まっていません";
    }
    return {};
}

std::string build_native_answer(bool ok, std::string_view text_utf8) {
    std::string answer = ok ? "{\"ok\":true,\"message\":\"" : "{\"ok\":false,\"message\":\"";
    for (const char c : text_utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            answer.push_back('\\');
            answer.push_back(c);
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            answer.append("\\u00");
            answer.push_back(kHex[byte >> 4]);
            answer.push_back(kHex[byte & 0xF]);
        } else {
            answer.push_back(c);
        }
    }
    answer.append("\"}");
    return answer;
}

}  // namespace vellum
