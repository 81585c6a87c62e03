#include "autoget/link_cache.h"

#include <array>
#include <utility>

namespace vellum {
namespace {

constexpr std::size_t kFieldCount = 7;
constexpr unsigned char kIsLinkBit = 0x80;

using Fields = std::array<std::optional<std::string> ParsedUrl::*, kFieldCount>;
constexpr Fields kFields = {&ParsedUrl::scheme, &ParsedUrl::host,     &ParsedUrl::port,  &ParsedUrl::path,
                            &ParsedUrl::query,  &ParsedUrl::fragment, &ParsedUrl::opaque};

void append_length(std::string& out, std::size_t length) {
    while (length >= 0x80) {
        out.push_back(static_cast<char>((length & 0x7F) | 0x80));
        length >>= 7;
    }
    out.push_back(static_cast<char>(length));
}

std::size_t read_length(std::string_view in, std::size_t& at) {
    std::size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(in[at++]);
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return length;
    }
}

unsigned char present_fields(const ParsedUrl& url) {
    unsigned char mask = 0;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (url.*kFields[i]) mask |= static_cast<unsigned char>(1u << i);
    }
    return mask;
}

// Each present field not in `repeated`, as its length and its bytes.
void append_fields(std::string& out, const ParsedUrl& url, unsigned char repeated) {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        const std::optional<std::string>& field = url.*kFields[i];
        if (!field || (repeated & (1u << i)) != 0) continue;
        append_length(out, field->size());
        out += *field;
    }
}

// The key of a page: how it is read, its save folder and every field of its
// URL record, since two records of one text (or of one store path) resolve
// links apart.
std::string page_key(const std::string& saveFolder, const ParsedUrl& url, LinkScan scan) {
    std::string key(1, static_cast<char>(scan));
    append_length(key, saveFolder.size());
    key += saveFolder;
    key.push_back(static_cast<char>(present_fields(url)));
    append_fields(key, url, 0);
    return key;
}

// The page as the extractor reads it, noting a read error: links found
// before one are handed on, as ever, but never kept.
class WatchedSource : public PageSource {
public:
    explicit WatchedSource(PageSource& source) : source_(source) {}
    int read(char* buffer, int size) override {
        const int got = source_.read(buffer, size);
        if (got < 0) failed_ = true;
        return got;
    }
    bool failed() const { return failed_; }

private:
    PageSource& source_;
    bool failed_ = false;
};

// What an entry costs beyond its text: the entry, its list and map nodes.
constexpr std::size_t kEntryOverhead = sizeof(PageIdentity) + 160;

}  // namespace

std::optional<PackedLinks> PackedLinks::pack(std::span<const LinkEntry> links) {
    PackedLinks packed;
    const ParsedUrl* previous = nullptr;
    for (const LinkEntry& entry : links) {
        if (entry.isLink != 0 && entry.isLink != 1) return std::nullopt;
        const unsigned char present = present_fields(entry.url);
        unsigned char repeated = 0;
        if (previous) {
            for (std::size_t i = 0; i < kFieldCount; ++i) {
                const std::optional<std::string>& field = entry.url.*kFields[i];
                if (field && field == (*previous).*kFields[i]) repeated |= static_cast<unsigned char>(1u << i);
            }
        }
        packed.bytes_.push_back(static_cast<char>(present | (entry.isLink ? kIsLinkBit : 0)));
        packed.bytes_.push_back(static_cast<char>(repeated));
        append_fields(packed.bytes_, entry.url, repeated);
        previous = &entry.url;
    }
    packed.count_ = links.size();
    packed.bytes_.shrink_to_fit();
    return packed;
}

void PackedLinks::unpack(LinkList& links) const {
    links.reserve(links.size() + count_);
    const std::string_view in = bytes_;
    std::size_t at = 0;
    const ParsedUrl* previous = nullptr;
    while (at < in.size()) {
        const auto head = static_cast<unsigned char>(in[at++]);
        const auto repeated = static_cast<unsigned char>(in[at++]);
        LinkEntry entry;
        entry.isLink = (head & kIsLinkBit) != 0 ? 1 : 0;
        for (std::size_t i = 0; i < kFieldCount; ++i) {
            if ((head & (1u << i)) == 0) continue;
            std::optional<std::string>& field = entry.url.*kFields[i];
            if ((repeated & (1u << i)) != 0) {
                field = (*previous).*kFields[i];
            } else {
                const std::size_t length = read_length(in, at);
                field.emplace(in.substr(at, length));
                at += length;
            }
        }
        links.push_back(std::move(entry));
        previous = &links.back().url;
    }
}

void LinkCache::links_of(const std::string& saveFolder, const ParsedUrl& url, LinkList& links, LinkScan scan) {
    std::string key = page_key(saveFolder, url, scan);
    if (const auto found = index_.find(key); found != index_.end()) {
        const Order::iterator entry = found->second;
        if (pages_.unchanged(saveFolder, url, entry->identity)) {
            order_.splice(order_.begin(), order_, entry);
            ++counts_.hits;
            entry->links.unpack(links);
            return;
        }
        forget(entry);
    }

    std::optional<OpenedPage> page = pages_.open(saveFolder, url);
    if (!page || !page->source) return;
    WatchedSource source(*page->source);
    const std::size_t first = links.size();
    scan_links(source, url, scan, links);
    ++counts_.extractions;
    if (source.failed() || !page->identity) return;
    std::optional<PackedLinks> packed = PackedLinks::pack(std::span<const LinkEntry>(links).subspan(first));
    if (packed) keep(std::move(key), std::move(*page->identity), std::move(*packed));
}

void LinkCache::keep(std::string key, PageIdentity identity, PackedLinks links) {
    const std::size_t cost = key.size() + identity.companion.size() + links.bytes() + kEntryOverhead;
    if (cost > byteLimit_) return;
    while (bytes_ + cost > byteLimit_ && !order_.empty()) {
        forget(std::prev(order_.end()));
        ++counts_.evictions;
    }
    order_.push_front(Entry{std::move(key), std::move(identity), std::move(links), cost});
    index_.emplace(order_.front().key, order_.begin());
    bytes_ += cost;
}

void LinkCache::forget(Order::iterator entry) {
    bytes_ -= entry->cost;
    index_.erase(entry->key);
    order_.erase(entry);
}

}  // namespace vellum
