// The peeking line and header-block readers against the byte-wise ones: the
// same lines, the same failures and exactly the same bytes consumed, whatever
// arrives per peek; and the work a hostile header can cause.
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
    // One peek and one receive for the whole block, not one per line or byte.
    EXPECT_EQ(source.receive_calls, 1);
    EXPECT_EQ(source.peek_calls, 1);
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

// --- header blocks ------------------------------------------------------------

struct BlockOutcome {
    std::optional<LineList> block;
    std::string remaining;
    bool operator==(const BlockOutcome&) const = default;
};

template <typename Source>
BlockOutcome read_block(Source& source) {
    BlockOutcome outcome;
    outcome.block = read_header_block(source);
    outcome.remaining = source.remaining();
    return outcome;
}

void expect_block_same_as_bytewise(const std::string& bytes, bool fail_at_end = false) {
    StringSource bytewise(bytes, fail_at_end);
    const BlockOutcome expected = read_block(bytewise);
    for (int window : {1, 2, 7, 64, 4096, 1 << 20}) {
        PeekingStringSource peeking(bytes, window, fail_at_end);
        EXPECT_EQ(read_block(peeking), expected) << "peek window " << window;
    }
}

std::string header_lines(std::size_t count, const std::string& line = "X-Filler: y\r\n") {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) lines += line;
    return lines;
}

TEST(PeekingHeaderBlock, RandomStreamsMatchTheByteReader) {
    std::mt19937 random(20240612);
    const std::string alphabet = std::string("ab: \r\n\n\n\n", 10) + std::string(1, '\0');
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 300);
        for (int i = 0; i < length; ++i) bytes += alphabet[random() % alphabet.size()];
        expect_block_same_as_bytewise(bytes, round % 2 == 1);
    }
}

TEST(PeekingHeaderBlock, AtMostAThousandLinesTheEmptyLineIncluded) {
    const std::string start = "GET http://h/ HTTP/1.0\r\n";
    const std::string fits = start + header_lines(kMaxHeaderLines - 2) + "\r\nbody";
    expect_block_same_as_bytewise(fits);
    PeekingStringSource accepted(fits);
    auto block = read_header_block(accepted);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->size(), kMaxHeaderLines);
    EXPECT_EQ(accepted.remaining(), "body");

    // One line more is refused where that line ends.
    const std::string too_many = start + header_lines(kMaxHeaderLines - 1) + "\r\nbody";
    expect_block_same_as_bytewise(too_many);
    PeekingStringSource refused(too_many);
    EXPECT_FALSE(read_header_block(refused));
    EXPECT_EQ(refused.remaining(), "body");
}

TEST(PeekingHeaderBlock, FiftyThousandLinesCostWhatAThousandDo) {
    // Short lines and continuation lines alike: the refusal comes after the
    // 1001st line, having received a few kilobytes in a handful of calls
    // rather than two calls per line of all fifty thousand.
    for (const std::string& line : {std::string("X: y\r\n"), std::string("    continued\r\n")}) {
        const std::string flood = "GET http://h/ HTTP/1.0\r\n" + header_lines(50000, line) + "\r\n";
        PeekingStringSource source(flood, 4096);
        EXPECT_FALSE(read_header_block(source));
        const std::size_t consumed = flood.size() - source.remaining().size();
        EXPECT_EQ(consumed, std::string("GET http://h/ HTTP/1.0\r\n").size() + kMaxHeaderLines * line.size());
        EXPECT_LE(source.peek_calls + source.receive_calls, 2 * static_cast<int>(consumed / 4096 + 1) + 2);
    }
}

TEST(PeekingHeaderBlock, EndlessLinesAndBlocksStopAtTheirLimits) {
    std::string endless_line = "GET http://h/ HTTP/1.0\r\n" + std::string(kMaxLineBytes + 100, 'x');
    expect_block_same_as_bytewise(endless_line);
    std::string endless_block;
    while (endless_block.size() <= kMaxHeaderBytes) endless_block += "X: " + std::string(kMaxLineBytes / 2, 'y') + "\r\n";
    expect_block_same_as_bytewise(endless_block + "\r\n");
    PeekingStringSource source(endless_block + "\r\n");
    EXPECT_FALSE(read_header_block(source));
}

TEST(PeekingHeaderBlock, ClosedOrFailingPeerLosesTheBlock) {
    expect_block_same_as_bytewise("GET / HTTP/1.0\r\nA: 1\r\n");
    expect_block_same_as_bytewise("GET / HTTP/1.0\r\nA: 1\r\n", true);
    expect_block_same_as_bytewise("");
}

}  // namespace
}  // namespace vellum
