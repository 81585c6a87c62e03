// The peeking line reader against the byte-wise one: the same lines, the same
// failures and exactly the same bytes consumed, whatever arrives per peek.
#include "http/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/string_source.h"

namespace vellum {
namespace {

using testing::PeekingStringSource;
using testing::StringSource;

struct Outcome {
    std::vector<std::optional<std::string>> lines;
    std::string remaining;
    bool operator==(const Outcome&) const = default;
};

// Reads up to `count` lines (stopping at the first failure) and notes what
// the source still holds.
template <typename Source>
Outcome read_lines(Source& source, int count, char terminator = '\n') {
    Outcome outcome;
    for (int i = 0; i < count; ++i) {
        outcome.lines.push_back(read_line(source, terminator));
        if (!outcome.lines.back()) break;
    }
    outcome.remaining = source.remaining();
    return outcome;
}

void expect_same_as_bytewise(const std::string& bytes, int count, bool fail_at_end = false) {
    StringSource bytewise(bytes, fail_at_end);
    const Outcome expected = read_lines(bytewise, count);
    for (int window : {1, 2, 5, 64, 4096, 1 << 20}) {
        PeekingStringSource peeking(bytes, window, fail_at_end);
        EXPECT_EQ(read_lines(peeking, count), expected) << "peek window " << window;
    }
}

TEST(PeekingLineReader, RequestHeaderThenBodyStaysUnread) {
    const std::string header = "POST http://h/f HTTP/1.0\r\nHost: h\r\nContent-Length: 4\r\n\r\n";
    PeekingStringSource source(header + "body");
    auto block = read_header_block(source);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->join(), header);
    EXPECT_EQ(source.remaining(), "body");
    // One peek and one receive per line, not one receive per byte.
    EXPECT_EQ(source.receive_calls, 4);
    EXPECT_EQ(source.peek_calls, 4);
    expect_same_as_bytewise(header + "body", 5);
}

TEST(PeekingLineReader, ZeroBytesLongLinesAndOtherTerminators) {
    expect_same_as_bytewise(std::string("a\0b\r\n\0\0\nc", 10), 3);
    expect_same_as_bytewise(std::string(10000, 'x') + "\n" + std::string(5000, 'y') + "\nz", 3);
    StringSource bytewise("key=value;next");
    PeekingStringSource peeking("key=value;next", 3);
    EXPECT_EQ(read_lines(peeking, 1, ';'), read_lines(bytewise, 1, ';'));
    EXPECT_EQ(peeking.remaining(), "next");
}

TEST(PeekingLineReader, ClosedOrFailingPeerLosesThePartialLine) {
    expect_same_as_bytewise("complete\npartial", 3);
    expect_same_as_bytewise("complete\npartial", 3, true);
    expect_same_as_bytewise("", 1);
}

TEST(PeekingLineReader, EndlessLineIsRefusedHavingConsumedWhatTheByteReaderDid) {
    // Zero bytes don't count towards the limit; the refusal comes at the same
    // byte either way, and what follows it stays in the source.
    std::string endless(kMaxLineBytes - 3, 'x');
    endless += std::string("\0\0yyyyyyyy\n", 11);
    expect_same_as_bytewise(endless, 2);
    PeekingStringSource source(endless);
    EXPECT_FALSE(read_line(source, '\n'));
    EXPECT_EQ(source.remaining(), "yyyyy\n");
}

TEST(PeekingLineReader, RandomHeaderStreamsMatchTheByteReader) {
    std::mt19937 random(20240611);
    const std::string alphabet = std::string("ab:; \r\n\n\n", 9) + std::string(1, '\0');
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 400);
        for (int i = 0; i < length; ++i) bytes += alphabet[random() % alphabet.size()];
        expect_same_as_bytewise(bytes, 40, round % 2 == 1);
    }
}

}  // namespace
}  // namespace vellum
