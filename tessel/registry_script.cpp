#include "tessel/registry_script.h"

#include <cctype>

namespace vellum {
namespace {

struct Token {
    enum class Kind { End, Open, Close, Equals, Word, Text, Error };
    Kind kind = Kind::End;
    std::string text;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool same_word(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view script, const ScriptVariables& variables) : script_(script), variables_(variables) {}

    std::optional<std::vector<ScriptRoot>> parse() {
        std::vector<ScriptRoot> roots;
        for (Token token = next(); token.kind != Token::Kind::End; token = next()) {
            if (token.kind != Token::Kind::Word) return std::nullopt;
            ScriptRoot root{std::move(token.text), {}};
            if (next().kind != Token::Kind::Open || !parse_block(root.keys, nullptr, 1)) return std::nullopt;
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    // The items of a block, after its "{" up to and including its "}". Values
    // ("val") are allowed only inside a key.
    bool parse_block(std::vector<ScriptKey>& keys, ScriptKey* owner, std::size_t depth) {
        if (depth > kMaxScriptDepth) return false;
        for (;;) {
            Token token = next();
            if (token.kind == Token::Kind::Close) return true;
            const bool is_value = token.kind == Token::Kind::Word && same_word(token.text, "val");
            if (is_value && !owner) return false;  // a value needs a key; quote a key named so
            if (is_value) {
                Token name = next();
                if (!is_name(name) || next().kind != Token::Kind::Equals) return false;
                ScriptValue value;
                value.name = std::move(name.text);
                if (!parse_value(value)) return false;
                owner->values.push_back(std::move(value));
                continue;
            }
            ScriptKey key;
            while (token.kind == Token::Kind::Word &&
                   (same_word(token.text, "NoRemove") || same_word(token.text, "ForceRemove"))) {
                (same_word(token.text, "NoRemove") ? key.no_remove : key.force_remove) = true;
                token = next();
            }
            if (!is_name(token)) return false;
            key.name = std::move(token.text);
            token = next();
            if (token.kind == Token::Kind::Equals) {
                ScriptValue value;
                if (!parse_value(value)) return false;
                key.values.push_back(std::move(value));
                token = next();
            }
            if (token.kind == Token::Kind::Open) {
                if (!parse_block(key.subkeys, &key, depth + 1)) return false;
            } else {
                pushed_back_ = std::move(token);
            }
            keys.push_back(std::move(key));
        }
    }

    // The part after "=": a type letter and its datum.
    bool parse_value(ScriptValue& value) {
        Token type = next();
        if (type.kind != Token::Kind::Word) return false;
        Token datum = next();
        if (same_word(type.text, "s")) {
            if (datum.kind != Token::Kind::Text) return false;
            value.kind = ScriptValue::Kind::Text;
            value.text = std::move(datum.text);
            return true;
        }
        if (same_word(type.text, "d")) {
            if (datum.kind != Token::Kind::Text && datum.kind != Token::Kind::Word) return false;
            value.kind = ScriptValue::Kind::Number;
            return parse_number(datum.text, value.number);
        }
        return false;
    }

    static bool is_name(const Token& token) {
        return (token.kind == Token::Kind::Word || token.kind == Token::Kind::Text) && !token.text.empty();
    }

    static bool parse_number(std::string_view text, std::uint32_t& number) {
        unsigned base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            text.remove_prefix(2);
        }
        if (text.empty()) return false;
        std::uint64_t result = 0;
        for (char c : text) {
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
                digit = static_cast<unsigned>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
            } else {
                return false;
            }
            result = result * base + digit;
            if (result > 0xFFFFFFFFu) return false;
        }
        number = static_cast<std::uint32_t>(result);
        return true;
    }

    Token next() {
        if (pushed_back_) {
            Token token = std::move(*pushed_back_);
            pushed_back_.reset();
            return token;
        }
        while (at_ < script_.size() && is_space(script_[at_])) ++at_;
        if (at_ == script_.size()) return {};
        const char c = script_[at_];
        // A brace stands alone; one that begins a word is part of it, as in
        // the key name of a class id.
        const bool alone = at_ + 1 == script_.size() || is_space(script_[at_ + 1]);
        if ((c == '{' || c == '}') && alone) {
            ++at_;
            return {c == '{' ? Token::Kind::Open : Token::Kind::Close, {}};
        }
        if (c == '=') {
            ++at_;
            return {Token::Kind::Equals, {}};
        }
        if (c == '\'') return quoted();
        const std::size_t start = at_;
        while (at_ < script_.size() && !is_space(script_[at_]) && script_[at_] != '=' && script_[at_] != '\'')
            ++at_;
        return {Token::Kind::Word, std::string(script_.substr(start, at_ - start))};
    }

    // A quoted text with its variables replaced; the replacements are not
    // scanned again, so a module path holding "%" or "'" stays as it is.
    Token quoted() {
        Token token{Token::Kind::Text, {}};
        for (++at_; at_ < script_.size(); ++at_) {
            const char c = script_[at_];
            if (c == '\'') {
                if (at_ + 1 < script_.size() && script_[at_ + 1] == '\'') {
                    token.text += '\'';
                    ++at_;
                    continue;
                }
                ++at_;
                return token;
            }
            if (c != '%') {
                token.text += c;
                continue;
            }
            const std::size_t close = script_.find('%', at_ + 1);
            if (close == std::string_view::npos) break;
            const std::string_view name = script_.substr(at_ + 1, close - at_ - 1);
            if (name.empty()) {
                token.text += '%';
            } else {
                const std::string* value = variable(name);
                if (!value) break;
                token.text += *value;
            }
            at_ = close;
        }
        return {Token::Kind::Error, {}};
    }

    const std::string* variable(std::string_view name) const {
        for (const auto& [key, value] : variables_) {
            if (same_word(key, name)) return &value;
        }
        return nullptr;
    }

    std::string_view script_;
    const ScriptVariables& variables_;
    std::size_t at_ = 0;
    std::optional<Token> pushed_back_;
};

}  // namespace

std::optional<std::vector<ScriptRoot>> parse_registry_script(std::string_view script,
                                                             const ScriptVariables& variables) {
    return Parser(script, variables).parse();
}

}  // namespace vellum
