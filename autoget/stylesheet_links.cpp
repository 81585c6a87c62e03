// The references of a stylesheet: a small CSS tokenizer that knows comments,
// strings, escapes, words and url(), and nothing of rules or properties. A
// reference is a url() anywhere or the string after @import; anything that
// does not close (a comment, a string, a url()) ends the scan there.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "autoget/link_extractor.h"
#include "base/lead_byte.h"

namespace vellum {
namespace {

bool is_white(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f';
}

bool is_newline(char ch) {
    return ch == '\r' || ch == '\n' || ch == '\f';
}

int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

// Windows pairs a lead byte with the byte after it unless that is below 0x40,
// where no trail byte lies: quotes, parentheses, "*", "/" and white space are
// therefore never swallowed, whatever encoding the stylesheet is really in.
bool pairs_at(std::string_view text, std::size_t at) {
    return is_lead_byte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() &&
           static_cast<unsigned char>(text[at + 1]) >= 0x40;
}

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != lower[i]) return false;
    }
    return true;
}

class SheetScanner {
public:
    explicit SheetScanner(std::string_view text) : text_(text) {}

    std::vector<std::string> references() {
        std::vector<std::string> found;
        while (at_ < text_.size()) {
            const char ch = text_[at_];
            if (ch == '/' && next_is(1, '*')) {
                if (!skip_comment()) break;
            } else if (ch == '"' || ch == '\'') {
                std::string ignored;
                if (!read_string(ignored)) break;
            } else if (ch == '@') {
                ++at_;
                std::string word;
                read_word(word);
                if (equals_ignoring_case(word, "import") && !import_rule(found)) break;
            } else if (starts_word()) {
                std::string word;
                read_word(word);
                if (equals_ignoring_case(word, "url") && next_is(0, '(')) {
                    ++at_;
                    if (!url_function(found)) break;
                }
            } else {
                at_ += pairs_at(text_, at_) ? 2 : 1;
            }
        }
        return found;
    }

private:
    bool next_is(std::size_t offset, char ch) const {
        return at_ + offset < text_.size() && text_[at_ + offset] == ch;
    }

    // False when the comment never closes.
    bool skip_comment() {
        const std::size_t close = text_.find("*/", at_ + 2);
        if (close == std::string_view::npos) return false;
        at_ = close + 2;
        return true;
    }

    void skip_white_and_comments() {
        for (;;) {
            while (at_ < text_.size() && is_white(text_[at_])) ++at_;
            if (!(next_is(0, '/') && next_is(1, '*')) || !skip_comment()) return;
        }
    }

    // A word goes on over letters, digits, "-", "_", two-byte characters,
    // any byte from 0x80 and escapes, so that "myurl(" or "2url(" is no url().
    bool word_byte(std::size_t at) const {
        const auto byte = static_cast<unsigned char>(text_[at]);
        return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
               byte == '-' || byte == '_' || byte >= 0x80 || (byte == '\\' && escape_at(at));
    }
    bool starts_word() const { return word_byte(at_); }

    // A backslash escapes anything but a newline or the end.
    bool escape_at(std::size_t at) const { return at + 1 < text_.size() && !is_newline(text_[at + 1]); }

    // The escape at at_ (a backslash), appended; at_ moves past it. An
    // escape of a character beyond ASCII cannot be written in the page's
    // bytes: nothing is appended and false returned.
    bool read_escape(std::string& out) {
        ++at_;
        if (hex_value(text_[at_]) >= 0) {
            unsigned long code = 0;
            for (int digits = 0; digits < 6 && at_ < text_.size() && hex_value(text_[at_]) >= 0; ++digits) {
                code = code * 16 + static_cast<unsigned long>(hex_value(text_[at_++]));
            }
            if (at_ < text_.size() && is_white(text_[at_])) {
                // "\r\n" after an escape counts as one white space.
                if (text_[at_] == '\r' && next_is(1, '\n')) ++at_;
                ++at_;
            }
            if (code == 0 || code >= 0x80) return false;
            out.push_back(static_cast<char>(code));
            return true;
        }
        append_character(out);
        return true;
    }

    // An escape inside a reference: one that cannot be written drops it.
    void read_reference_escape(std::string& out) {
        if (!read_escape(out)) undecodable_ = true;
    }

    // The character at at_, one byte or a lead byte with its trail.
    void append_character(std::string& out) {
        const std::size_t length = pairs_at(text_, at_) ? 2 : 1;
        out.append(text_.substr(at_, length));
        at_ += length;
    }

    void read_word(std::string& out) {
        while (at_ < text_.size() && word_byte(at_)) {
            if (text_[at_] == '\\') {
                // A word with an escape that cannot be written is no keyword.
                if (!read_escape(out)) out.push_back('\0');
            } else {
                append_character(out);
            }
        }
    }

    // The string at at_ (its opening quote), escapes undone. False when it
    // never closes; a newline inside ends it as a broken string, which gives
    // no reference.
    bool read_string(std::string& out) {
        const char quote = text_[at_++];
        broken_ = false;
        while (at_ < text_.size()) {
            const char ch = text_[at_];
            if (ch == quote) {
                ++at_;
                return true;
            }
            if (is_newline(ch)) {
                broken_ = true;
                return true;
            }
            if (ch == '\\') {
                if (at_ + 1 >= text_.size()) return false;
                if (is_newline(text_[at_ + 1])) {
                    // A line continued: nothing of it is the string's.
                    at_ += text_[at_ + 1] == '\r' && next_is(2, '\n') ? 3 : 2;
                } else {
                    read_reference_escape(out);
                }
                continue;
            }
            append_character(out);
        }
        return false;
    }

    // After "url(": a quoted or a bare URL up to its ")". False when the
    // text ends first.
    bool url_function(std::vector<std::string>& found) {
        undecodable_ = false;
        // Only white space: "/*" here already belongs to a bare URL.
        skip_white();
        if (at_ >= text_.size()) return false;
        std::string url;
        if (text_[at_] == '"' || text_[at_] == '\'') {
            if (!read_string(url)) return false;
            const bool usable = !broken_ && !undecodable_;
            // Whatever follows the string (modifiers) up to the ")".
            if (!skip_to_close(true)) return false;
            if (usable) keep(std::move(url), found);
            return true;
        }
        bool bad = false;
        while (at_ < text_.size() && text_[at_] != ')') {
            const char ch = text_[at_];
            if (is_white(ch)) {
                skip_white();
                if (at_ < text_.size() && text_[at_] != ')') bad = true;
                break;
            }
            if (ch == '"' || ch == '\'' || ch == '(' || static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
                bad = true;
                break;
            }
            if (ch == '\\') {
                if (!escape_at(at_)) {
                    bad = true;
                    break;
                }
                read_reference_escape(url);
            } else {
                append_character(url);
            }
        }
        // What is left of a bad URL runs to its ")", quotes and all.
        if (bad) return skip_to_close(false);
        if (at_ >= text_.size()) return false;
        ++at_;  // the ")"
        if (!undecodable_) keep(std::move(url), found);
        return true;
    }

    void skip_white() {
        while (at_ < text_.size() && is_white(text_[at_])) ++at_;
    }

    // Past the next ")" outside escapes (and, with `strings`, outside
    // strings); false when none.
    bool skip_to_close(bool strings) {
        while (at_ < text_.size()) {
            const char ch = text_[at_];
            if (ch == ')') {
                ++at_;
                return true;
            }
            if (strings && (ch == '"' || ch == '\'')) {
                std::string ignored;
                if (!read_string(ignored)) return false;
            } else if (ch == '\\' && escape_at(at_)) {
                std::string ignored;
                read_escape(ignored);
            } else {
                at_ += pairs_at(text_, at_) ? 2 : 1;
            }
        }
        return false;
    }

    // After "@import": its string, or its url() (which the scan reports by
    // itself). False when the text ends inside it.
    bool import_rule(std::vector<std::string>& found) {
        skip_white_and_comments();
        if (at_ >= text_.size()) return true;
        if (text_[at_] != '"' && text_[at_] != '\'') return true;
        undecodable_ = false;
        std::string url;
        if (!read_string(url)) return false;
        if (!broken_ && !undecodable_) keep(std::move(url), found);
        return true;
    }

    void keep(std::string url, std::vector<std::string>& found) {
        std::size_t begin = 0;
        std::size_t end = url.size();
        while (begin < end && is_white(url[begin])) ++begin;
        while (end > begin && is_white(url[end - 1])) --end;
        if (end - begin >= kTagTextLimit || begin == end) return;
        found.push_back(url.substr(begin, end - begin));
    }

    std::string_view text_;
    std::size_t at_ = 0;
    bool undecodable_ = false;  // the reference being read has an escape beyond ASCII
    bool broken_ = false;       // the last string read met a newline
};

}  // namespace

std::vector<std::string> stylesheet_references(std::string_view sheet) {
    return SheetScanner(sheet).references();
}

void extract_stylesheet_links(PageSource& sheet, const ParsedUrl& sheetUrl, LinkList& links) {
    std::string text;
    std::vector<char> block(64 * 1024);
    while (text.size() < kStylesheetLimit) {
        const std::size_t room = std::min(block.size(), kStylesheetLimit - text.size());
        const int got = sheet.read(block.data(), static_cast<int>(room));
        if (got <= 0) break;
        text.append(block.data(), std::min(static_cast<std::size_t>(got), room));
    }
    for (const std::string& reference : stylesheet_references(text)) {
        const std::optional<ParsedUrl> value = parse_url(reference);
        if (!value) continue;
        std::optional<ParsedUrl> resolved = resolve_url(&sheetUrl, &*value);
        if (resolved) links.push_back(LinkEntry{std::move(*resolved), 0});
    }
}

}  // namespace vellum
