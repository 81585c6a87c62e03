#include "vellumhost/native_message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vellum {
namespace {

// Hands out at most `chunk` bytes per read, as a pipe shows what has arrived.
class BytesInput : public NativeInput {
public:
    explicit BytesInput(std::string bytes, std::size_t chunk = 7) : bytes_(std::move(bytes)), chunk_(chunk) {}
    std::size_t read(char* buffer, std::size_t size) override {
        const std::size_t count = std::min({size, chunk_, bytes_.size() - position_});
        bytes_.copy(buffer, count, position_);
        position_ += count;
        return count;
    }
    std::size_t left() const { return bytes_.size() - position_; }

private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

std::string length_prefix(std::uint32_t length) {
    std::string prefix;
    for (int shift = 0; shift < 32; shift += 8) prefix.push_back(static_cast<char>((length >> shift) & 0xFF));
    return prefix;
}

TEST(NativeFrames, MessagesFollowOneAnotherThenTheEnd) {
    BytesInput input(frame_native_message("{\"a\":1}") + frame_native_message("") + frame_native_message("[]"));
    std::string body;
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kMessage);
    EXPECT_EQ(body, "{\"a\":1}");
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kMessage);
    EXPECT_EQ(body, "");
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kMessage);
    EXPECT_EQ(body, "[]");
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kEnd);
}

TEST(NativeFrames, TheLengthIsLittleEndian) {
    EXPECT_EQ(frame_native_message(std::string(0x0102, 'x')).substr(0, 4), std::string("\x02\x01\0\0", 4));
}

TEST(NativeFrames, AnInputEndingInsideALengthOrABodyIsTruncated) {
    std::string body;
    BytesInput half_length(std::string("\x05\0", 2));
    EXPECT_EQ(read_native_message(half_length, &body), NativeRead::kTruncated);
    BytesInput half_body(length_prefix(10) + "{\"url\"");
    EXPECT_EQ(read_native_message(half_body, &body), NativeRead::kTruncated);
    EXPECT_EQ(body, "");
}

TEST(NativeFrames, OneMegabyteIsTakenOneByteMoreIsDroppedWholeAndTheNextFrameFound) {
    std::string body;
    BytesInput largest(frame_native_message(std::string(kMaxNativeMessageSize, ' ')), 65536);
    EXPECT_EQ(read_native_message(largest, &body), NativeRead::kMessage);
    EXPECT_EQ(body.size(), kMaxNativeMessageSize);

    BytesInput larger(frame_native_message(std::string(kMaxNativeMessageSize + 1, ' ')) + frame_native_message("{}"),
                      65536);
    EXPECT_EQ(read_native_message(larger, &body), NativeRead::kTooLarge);
    EXPECT_EQ(read_native_message(larger, &body), NativeRead::kMessage);
    EXPECT_EQ(body, "{}");
}

TEST(NativeFrames, AHugeLengthWithFewBytesBehindItEndsWithoutWaitingForThem) {
    std::string body;
    BytesInput input(length_prefix(0xFFFFFFFF) + "{}");
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kTooLarge);
    EXPECT_EQ(input.left(), 0u);
    EXPECT_EQ(read_native_message(input, &body), NativeRead::kEnd);
}

ParsedMessage parse(std::string_view json) { return parse_reservation_message(json); }

TEST(ReservationMessages, TheThreeFieldsInAnyOrderUnknownOnesPassedOver) {
    const ParsedMessage parsed = parse(
        " {\"userAgent\":\"UA/1\", \"extra\": {\"deep\": [1, -2.5e3, true, false, null, \"x\"]},"
        "\"referer\":\"http://example.com/\",\r\n\t\"url\":\"https://example.com/a?b=1\"} ");
    ASSERT_EQ(parsed.error, MessageError::kNone);
    EXPECT_EQ(parsed.message.url, "https://example.com/a?b=1");
    EXPECT_EQ(parsed.message.referer, "http://example.com/");
    EXPECT_EQ(parsed.message.user_agent, "UA/1");
}

TEST(ReservationMessages, MissingAndNullFieldsAreNone) {
    ParsedMessage parsed = parse("{}");
    ASSERT_EQ(parsed.error, MessageError::kNone);
    EXPECT_FALSE(parsed.message.url);
    EXPECT_FALSE(parsed.message.referer);
    EXPECT_FALSE(parsed.message.user_agent);

    parsed = parse("{\"url\":null,\"referer\":null,\"userAgent\":\"u\"}");
    ASSERT_EQ(parsed.error, MessageError::kNone);
    EXPECT_FALSE(parsed.message.url);
    EXPECT_FALSE(parsed.message.referer);
    // An empty referrer stays a text: the sender leaves its line out.
    EXPECT_EQ(parse("{\"referer\":\"\"}").message.referer, "");
    EXPECT_EQ(parse("{\"url\":\"http://a/\",\"url\":\"http://b/\"}").message.url, "http://b/");
}

TEST(ReservationMessages, EscapesAndUtf8BecomeUtf8) {
    const ParsedMessage parsed =
        parse("{\"url\":\"http://h/\\u65e5\\u672c/\xe3\x83\x9a\\\"\\\\\\/\\t\\ud83d\\ude00\"}");
    ASSERT_EQ(parsed.error, MessageError::kNone);
    EXPECT_EQ(parsed.message.url, "http://h/\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x9a\"\\/\t\xf0\x9f\x98\x80");
}

TEST(ReservationMessages, TextsThatAreNoJson) {
    for (const char* bad : {"", " ", "{", "{\"url\"}", "{\"url\":}", "{\"url\":\"x\",}", "{,}", "{\"a\":1}}",
                            "{\"a\":1} x", "{'url':'x'}", "{\"a\":01}", "{\"a\":1.}", "{\"a\":-}", "{\"a\":1e}",
                            "{\"a\":tru}", "{\"url\":nul}", "{\"a\":[1,]}", "{\"a\":\"\x01\"}", "{\"a\":\"\\x\"}",
                            "{\"a\":\"\\u12g4\"}", "{\"a\":\"\\ud800\"}", "{\"a\":\"\\udc00\"}",
                            "{\"a\":\"\\ud800\\u0041\"}", "{\"a\":\"unterminated}"})
        EXPECT_EQ(parse(bad).error, MessageError::kBadJson) << bad;
}

TEST(ReservationMessages, BytesThatAreNoUtf8) {
    for (const char* bad : {"{\"url\":\"\x83y\"}",          // Shift-JIS
                            "{\"url\":\"\xc0\xaf\"}",       // overlong
                            "{\"url\":\"\xed\xa0\x80\"}",   // a surrogate
                            "{\"url\":\"\xf4\x90\x80\x80\"}",  // above U+10FFFF
                            "{\"url\":\"\xe3\x83\"}", "{\"a\":\"\xff\"}"})
        EXPECT_EQ(parse(bad).error, MessageError::kBadJson) << bad;
}

TEST(ReservationMessages, WellFormedButNotAnObject) {
    for (const char* other : {"[]", "\"http://h/\"", "42", "null", " [ {\"url\":\"http://h/\"} ] "})
        EXPECT_EQ(parse(other).error, MessageError::kNotAnObject) << other;
}

TEST(ReservationMessages, AKnownFieldThatIsNoTextIsNamed) {
    for (const char* json : {"{\"userAgent\":42}", "{\"userAgent\":true}", "{\"userAgent\":[\"UA\"]}",
                             "{\"url\":\"http://h/\",\"userAgent\":{}}"}) {
        const ParsedMessage parsed = parse(json);
        EXPECT_EQ(parsed.error, MessageError::kFieldNotText) << json;
        EXPECT_EQ(parsed.field, "userAgent") << json;
        EXPECT_EQ(message_error_text(parsed), "メッセージの userAgent が文字列ではありません");
    }
    // The whole text is read first: a fault of the JSON outweighs one of a field.
    EXPECT_EQ(parse("{\"url\":1,").error, MessageError::kBadJson);
    // Only the first faulty field is told.
    EXPECT_EQ(parse("{\"referer\":1,\"url\":2}").field, "referer");
}

TEST(ReservationMessages, AZeroCharacterInAFieldIsTold) {
    const ParsedMessage parsed = parse("{\"url\":\"http://h/\\u0000x\"}");
    EXPECT_EQ(parsed.error, MessageError::kZeroInField);
    EXPECT_EQ(message_error_text(parsed), "メッセージの url に NUL 文字があります");
    EXPECT_EQ(parse("{\"other\":\"\\u0000\"}").error, MessageError::kNone);
}

TEST(ReservationMessages, OnlyHttpAndHttpsUrls) {
    for (const char* url : {"", "ftp://h/", "HTTP://h/", "javascript:alert(1)", "file:///C:/x", "http:/h/", " http://h/"})
        EXPECT_EQ(parse(std::string("{\"url\":\"") + url + "\"}").error, MessageError::kUrlNotHttp) << url;
    EXPECT_EQ(parse("{\"url\":\"http://h/\"}").error, MessageError::kNone);
    EXPECT_EQ(parse("{\"url\":\"https://h/\"}").error, MessageError::kNone);
}

TEST(ReservationMessages, NestingHasALimitAndNoStackEnds) {
    EXPECT_EQ(parse("{\"a\":" + std::string(60, '[') + std::string(60, ']') + "}").error, MessageError::kNone);
    EXPECT_EQ(parse("{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}").error,
              MessageError::kBadJson);
}

TEST(NativeAnswers, QuotesBackslashesAndControlsAreEscaped) {
    EXPECT_EQ(build_native_answer(true, "done"), "{\"ok\":true,\"message\":\"done\"}");
    EXPECT_EQ(build_native_answer(false, "a\"b\\c\r\n\x01\xe6\x97\xa5"),
              "{\"ok\":false,\"message\":\"a\\\"b\\\\c\\u000d\\u000a\\u0001\xe6\x97\xa5\"}");
}

}  // namespace
}  // namespace vellum
