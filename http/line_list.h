// LineList: an ordered list of owned text lines, each kept with its own line
// ending exactly as received ("\r\n" or "\n"). HTTP headers, connection logs,
// forced-get queue entries and user-edited text lists are LineLists. A header
// block keeps its terminating empty line as its last element. Lines the proxy
// builds itself end in "\r\n". Plain value type; not shared between threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

class LineList {
public:
    using const_iterator = std::vector<std::string>::const_iterator;

    LineList() = default;
    explicit LineList(std::string first) { lines_.push_back(std::move(first)); }
    LineList(std::initializer_list<std::string> lines) : lines_(lines) {}

    // Cuts `text` at each LF. With strip_line_endings the LF and a CR right
    // before it are removed from each line; with skip_empty, lines that end
    // up empty are left out. A last piece without LF becomes the last line.
    static LineList split(std::string_view text, bool strip_line_endings, bool skip_empty);

    void append(std::string line) { lines_.push_back(std::move(line)); }
    void append(const LineList& other) { lines_.insert(lines_.end(), other.begin(), other.end()); }

    // All lines in order. add_crlf puts "\r\n" after every line; skip_empty
    // leaves out lines that are empty or equal "\r\n" or "\n".
    std::string join(bool add_crlf = false, bool skip_empty = false) const;

    bool empty() const { return lines_.empty(); }
    std::size_t size() const { return lines_.size(); }
    const std::string& front() const { return lines_.front(); }
    const std::string& back() const { return lines_.back(); }
    const std::string& operator[](std::size_t index) const { return lines_[index]; }
    const_iterator begin() const { return lines_.begin(); }
    const_iterator end() const { return lines_.end(); }
    void clear() { lines_.clear(); }

    bool operator==(const LineList&) const = default;

private:
    std::vector<std::string> lines_;
};

}  // namespace vellum
