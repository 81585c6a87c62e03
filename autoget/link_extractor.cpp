#include "autoget/link_extractor.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "store/text_codec.h"

namespace vellum {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

// Finds the byte that closes a tag, fed the tag's bytes in pieces as they
// arrive. The first three bytes decide whether the tag is a comment; their
// own ">" never closes it ("<!>" and "<!->" run on to a later ">").
class TagEndScanner {
public:
    // Offset in `bytes` just past the closing byte, or kNotFound.
    std::size_t feed(std::string_view bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const char ch = bytes[at++];
            switch (state_) {
            case State::first:
                if (ch == '>') return at;
                state_ = ch == '!' ? State::bang : State::plain;
                break;
            case State::bang:
                state_ = ch == '-' ? State::bang_dash : State::plain;
                break;
            case State::bang_dash:
                state_ = ch == '-' ? State::comment : State::plain;
                break;
            case State::plain: {
                const void* close = std::memchr(bytes.data() + at - 1, '>', bytes.size() - (at - 1));
                if (!close) return kNotFound;
                return static_cast<std::size_t>(static_cast<const char*>(close) - bytes.data()) + 1;
            }
            case State::comment:
                if (ch == '>' && dashes_ >= 2) return at;
                dashes_ = ch == '-' ? dashes_ + 1 : 0;
                break;
            }
        }
        return kNotFound;
    }

private:
    enum class State { first, bang, bang_dash, plain, comment };
    State state_ = State::first;
    int dashes_ = 0;  // consecutive "-" inside a comment
};

// The page in blocks: a window of bytes not yet passed over, refilled from
// the source, which is read in blocks rather than a byte at a time. Blocks
// start small and grow while the source fills them, so a short page costs no
// large buffer.
class BlockReader {
public:
    explicit BlockReader(PageSource& source) : source_(source) {}

    std::string_view window(std::size_t from = 0) const {
        return {buffer_.data() + begin_ + from, end_ - begin_ - from};
    }
    void pass(std::size_t count) { begin_ += count; }

    // Appends the next block to the window; false at the end or on an error.
    bool more() {
        if (finished_) return false;
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (buffer_.size() - end_ < block_) buffer_.resize(std::max(buffer_.size() * 2, end_ + block_));
        const std::size_t room = std::min<std::size_t>(buffer_.size() - end_, INT_MAX);
        const int count = source_.read(buffer_.data() + end_, static_cast<int>(room));
        if (count <= 0) {
            finished_ = true;
            return false;
        }
        const std::size_t got = std::min(static_cast<std::size_t>(count), room);
        end_ += got;
        if (got == room) block_ = std::min(block_ * 2, kLargestBlock);  // the source keeps up: read more at once
        return true;
    }

private:
    static constexpr std::size_t kLargestBlock = 64 * 1024;
    PageSource& source_;
    std::vector<char> buffer_;
    std::size_t block_ = 4096;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool finished_ = false;
};

struct AttributeRule {
    std::string_view tag;
    std::string_view attribute;
};

// Embedded resources, in lookup order.
constexpr AttributeRule kResources[] = {
    {"BGSOUND", "SRC"}, {"EMBED", "SRC"},     {"FRAME", "SRC"},      {"IMG", "SRC"},
    {"IMAGE", "SRC"},   {"INPUT", "SRC"},     {"IMG", "DYNSRC"},     {"IMAGE", "DYNSRC"},
    {"BODY", "BACKGROUND"}, {"TABLE", "BACKGROUND"}, {"TD", "BACKGROUND"}, {"TH", "BACKGROUND"},
};
constexpr AttributeRule kHyperlinks[] = {{"A", "HREF"}, {"AREA", "HREF"}};

// What a page needs to be displayed, reported only on request: embedded
// resources too. LINK HREF counts only with a REL that names a stylesheet or
// an icon, and a SRCSET gives each of its candidates.
constexpr AttributeRule kRequisites[] = {
    {"SCRIPT", "SRC"}, {"VIDEO", "POSTER"}, {"OBJECT", "DATA"}, {"IFRAME", "SRC"},
};
constexpr std::string_view kRequisiteTags[] = {"LINK", "SCRIPT", "IMG", "SOURCE", "VIDEO", "OBJECT", "IFRAME"};
constexpr std::string_view kRequisiteRels[] = {"STYLESHEET", "ICON"};

bool requisite_tag(std::string_view name) {
    for (std::string_view tag : kRequisiteTags) {
        if (tag == name) return true;
    }
    return false;
}

bool requisite_resource(std::string_view tag, std::string_view attribute) {
    for (const AttributeRule& rule : kRequisites) {
        if (rule.tag == tag && rule.attribute == attribute) return true;
    }
    return false;
}

// Tags whose attributes can matter; the attributes of any other tag give
// nothing and cannot end the page, so they are not looked at.
bool tag_of_interest(std::string_view name) {
    if (name == "BASE") return true;
    for (const AttributeRule& rule : kResources) {
        if (rule.tag == name) return true;
    }
    for (const AttributeRule& rule : kHyperlinks) {
        if (rule.tag == name) return true;
    }
    return false;
}

// 0 embedded resource, 1 hyperlink, -1 neither.
int link_kind(std::string_view tag, std::string_view attribute) {
    for (const AttributeRule& rule : kResources) {
        if (rule.tag == tag && rule.attribute == attribute) return 0;
    }
    for (const AttributeRule& rule : kHyperlinks) {
        if (rule.tag == tag && rule.attribute == attribute) return 1;
    }
    return -1;
}

bool is_blank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

void upper_case(std::string& text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
}

bool is_web_scheme_ignoring_case(const std::string& scheme) {
    std::string folded = scheme;
    upper_case(folded);
    return folded == "HTTP" || folded == "HTTPS";
}

std::string_view trim_spaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Whether a REL value holds a word that makes LINK HREF a requisite. The
// words are parted by spaces (TAB, CR and LF are spaces by now), which no
// trail byte can be.
bool requisite_rel(std::string_view rel) {
    std::size_t at = 0;
    while (at < rel.size()) {
        while (at < rel.size() && rel[at] == ' ') ++at;
        const std::size_t end = std::min(rel.find(' ', at), rel.size());
        std::string word(rel.substr(at, end - at));
        upper_case(word);
        for (std::string_view wanted : kRequisiteRels) {
            if (word == wanted) return true;
        }
        at = end;
    }
    return false;
}

// The per-page state of the scan: the page's URL, the current base and the
// list the entries go to.
class TagScanner {
public:
    TagScanner(const ParsedUrl& pageUrl, LinkList& links, bool requisites)
        : page_url_(pageUrl), links_(links), requisites_(requisites) {}

    // One tag's text between "<" and its closing byte; false ends the page.
    bool tag(std::string_view text) {
        text = text.substr(0, text.find('\0'));  // the tag is a zero-terminated text
        std::size_t start = 0;
        while (start < text.size() && is_blank(text[start])) ++start;
        text.remove_prefix(start);
        if (text.substr(0, 3) == "!--") return true;

        std::size_t name_end = 0;
        while (name_end < text.size() && !is_blank(text[name_end])) ++name_end;
        if (name_end >= kTagTextLimit) return false;
        if (name_end == text.size()) return true;  // no attributes
        tag_name_.assign(text.substr(0, name_end));
        upper_case(tag_name_);
        if (!tag_of_interest(tag_name_) && !(requisites_ && requisite_tag(tag_name_))) return true;

        rest_.assign(text.substr(name_end));
        for (char& ch : rest_) {
            if (is_blank(ch)) ch = ' ';
        }
        link_rel_.reset();
        link_href_.reset();
        attributes(rest_);
        // REL may follow HREF, so a LINK is judged once its pairs are read,
        // those before a malformed pair included.
        if (link_href_ && link_rel_ && requisite_rel(*link_rel_)) append(*link_href_, 0);
        return true;
    }

private:
    // Name=value pairs until the text ends or a pair is malformed.
    void attributes(std::string_view text) {
        std::size_t at = 0;
        while (at < text.size()) {
            while (at < text.size() && text[at] == ' ') ++at;
            const std::size_t equals = text.find('=', at);
            if (equals == kNotFound) return;
            std::size_t name_end = equals;
            while (name_end > at && text[name_end - 1] == ' ') --name_end;
            if (name_end - at >= kTagTextLimit) return;
            attribute_.assign(text.substr(at, name_end - at));
            upper_case(attribute_);
            const std::size_t limit = value_limit();

            at = equals + 1;
            while (at < text.size() && text[at] == ' ') ++at;
            if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
                const std::size_t close = text.find(text[at], at + 1);
                if (close == kNotFound) return;
                const std::string_view value = trim_spaces(text.substr(at + 1, close - at - 1));
                if (value.size() >= limit) return;
                value_.assign(value);
                decode_html_entities(value_);
                at = close + 1;
            } else {
                const std::size_t space = std::min(text.find(' ', at), text.size());
                if (space - at >= limit) return;
                value_.assign(text.substr(at, space - at));
                at = space;
            }
            pair();
        }
    }

    void pair() {
        if (tag_name_ == "BASE" && attribute_ == "HREF") {
            base_.reset();
            std::optional<ParsedUrl> base = parse_url(value_);
            if (base && (!base->scheme || is_web_scheme_ignoring_case(*base->scheme))) base_ = std::move(base);
            return;
        }
        if (requisites_ && requisite_pair()) return;
        const int isLink = link_kind(tag_name_, attribute_);
        if (isLink < 0) return;
        append(value_, isLink);
    }

    bool srcset_pair() const {
        return attribute_ == "SRCSET" && (tag_name_ == "IMG" || tag_name_ == "SOURCE");
    }

    std::size_t value_limit() const { return requisites_ && srcset_pair() ? kSrcsetTextLimit : kTagTextLimit; }

    // A pair of the requisites: reported (or, for a LINK, kept for the end
    // of the tag) and true; false for any other pair.
    bool requisite_pair() {
        if (tag_name_ == "LINK") {
            // As a browser does, the first of each counts.
            if (attribute_ == "REL" && !link_rel_) link_rel_ = value_;
            if (attribute_ == "HREF" && !link_href_) link_href_ = value_;
            return true;
        }
        if (srcset_pair()) {
            for (std::string_view candidate : srcset_candidates(value_)) {
                if (candidate.size() < kTagTextLimit) append(candidate, 0);
            }
            return true;
        }
        if (!requisite_resource(tag_name_, attribute_)) return false;
        append(value_, 0);
        return true;
    }

    void append(std::string_view text, int isLink) {
        const std::optional<ParsedUrl> value = parse_url(text);
        if (!value) return;
        std::optional<ParsedUrl> resolved = resolve_url(base_ ? &*base_ : &page_url_, &*value);
        if (resolved) links_.push_back(LinkEntry{std::move(*resolved), isLink});
    }

    const ParsedUrl& page_url_;
    LinkList& links_;
    const bool requisites_;
    std::optional<ParsedUrl> base_;
    // The current LINK's first REL and HREF values.
    std::optional<std::string> link_rel_;
    std::optional<std::string> link_href_;
    // Work texts, kept to spare an allocation per tag.
    std::string tag_name_;
    std::string rest_;
    std::string attribute_;
    std::string value_;
};

// Moves up one folder: `path` ends in "/" and is not "/"; the last segment
// and its "/" go, the "/" before the segment stays.
bool climb(std::string& path) {
    const std::size_t previous = path.rfind('/', path.size() - 2);
    if (previous == std::string::npos) return false;
    path.resize(previous + 1);
    return true;
}

// The relative path `relative` applied to the folder of `base_path`.
std::optional<std::string> merge_paths(std::string_view base_path, std::string_view relative) {
    std::string path(base_path.substr(0, base_path.rfind('/') + 1));
    std::size_t at = 0;
    while (at < relative.size()) {
        const std::string_view rest = relative.substr(at);
        if (rest.front() == '/') {
            while (at < relative.size() && relative[at] == '/') ++at;
            continue;
        }
        if (rest == ".") break;
        if (rest.substr(0, 2) == "./") {
            at += 2;
            continue;
        }
        if (rest == ".." || rest.substr(0, 3) == "../") {
            if (path != "/" && !climb(path)) return std::nullopt;
            if (rest == "..") break;
            at += 3;
            continue;
        }
        const std::size_t slash = rest.find('/');
        if (slash == kNotFound) {
            path += rest;
            break;
        }
        path += rest.substr(0, slash + 1);
        at += slash + 1;
    }
    return path;
}

}  // namespace

int MemoryPageSource::read(char* buffer, int size) {
    if (size <= 0) return 0;
    const std::size_t count = std::min({static_cast<std::size_t>(size), chunk_, bytes_.size() - position_});
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<int>(count);
}

std::size_t tag_length(std::string_view after_lt) {
    const std::size_t end = TagEndScanner().feed(after_lt);
    return end == kNotFound ? 0 : end;
}

void extract_links(PageSource& page, const ParsedUrl& pageUrl, LinkList& links, bool pageRequisites) {
    BlockReader in(page);
    TagScanner scanner(pageUrl, links, pageRequisites);
    for (;;) {
        std::size_t lt;
        while ((lt = in.window().find('<')) == kNotFound) {
            in.pass(in.window().size());
            if (!in.more()) return;
        }
        in.pass(lt + 1);

        TagEndScanner end;
        std::size_t scanned = 0;
        std::size_t length;
        for (;;) {
            const std::size_t found = end.feed(in.window(scanned));
            if (found != kNotFound) {
                length = scanned + found;
                break;
            }
            scanned = in.window().size();
            if (!in.more()) return;  // the tag never closes
        }
        if (!scanner.tag(in.window().substr(0, length - 1))) return;
        in.pass(length);
    }
}

std::vector<std::string_view> srcset_candidates(std::string_view value) {
    // Commas, spaces and parentheses are below 0x40, so no trail byte is
    // taken for one.
    std::vector<std::string_view> candidates;
    auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f'; };
    std::size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && (blank(value[at]) || value[at] == ',')) ++at;
        if (at == value.size()) break;
        const std::size_t start = at;
        while (at < value.size() && !blank(value[at])) ++at;
        std::string_view url = value.substr(start, at - start);
        if (!url.empty() && url.back() == ',') {
            // "a.png,b.png 2x": a comma that ends the URL ends the candidate.
            while (!url.empty() && url.back() == ',') url.remove_suffix(1);
        } else {
            // The descriptors ("2x", "480w"), up to a comma outside parentheses.
            int depth = 0;
            while (at < value.size() && !(value[at] == ',' && depth == 0)) {
                if (value[at] == '(') ++depth;
                if (value[at] == ')' && depth > 0) --depth;
                ++at;
            }
        }
        if (!url.empty()) candidates.push_back(url);
    }
    return candidates;
}

void scan_links(PageSource& source, const ParsedUrl& url, LinkScan scan, LinkList& links) {
    switch (scan) {
    case LinkScan::page: extract_links(source, url, links, false); return;
    case LinkScan::page_with_requisites: extract_links(source, url, links, true); return;
    case LinkScan::stylesheet: extract_stylesheet_links(source, url, links); return;
    }
}

std::optional<ParsedUrl> resolve_url(const ParsedUrl* base, const ParsedUrl* relative) {
    if (!base || !relative) return std::nullopt;
    const ParsedUrl& b = *base;
    const ParsedUrl& r = *relative;
    ParsedUrl url;
    url.scheme = r.scheme ? r.scheme : b.scheme;
    if (!url.scheme || !is_web_scheme(*url.scheme)) return std::nullopt;
    if (r.host) {
        url.host = r.host;
        url.port = r.port;
    } else if (b.host) {
        url.host = b.host;
        url.port = b.port;
    } else {
        return std::nullopt;
    }
    // The query is the reference's alone; a fragment is never kept, so
    // references that differ only there name the same page.
    url.query = r.query;
    if (!r.path) return std::nullopt;
    if (!r.path->empty() && r.path->front() == '/') {
        url.path = r.path;
    } else {
        if (!b.path || b.path->empty() || b.path->front() != '/') return std::nullopt;
        url.path = merge_paths(*b.path, *r.path);
        if (!url.path) return std::nullopt;
    }
    return url;
}

}  // namespace vellum
