#include "store/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum {
namespace {

std::string entities(std::string text) {
    decode_html_entities(text);
    return text;
}

std::string decoded(std::string text, bool plus_as_space) {
    percent_decode(text, plus_as_space);
    return text;
}

std::string escaped(std::string text) {
    escape_for_file_name(text);
    return text;
}

TEST(HtmlEntities, NamedEntitiesAreCaseSensitiveAndDecodedOnce) {
    EXPECT_EQ(entities("a&lt;b&gt;c&quot;d&amp;e"), "a<b>c\"d&e");
    EXPECT_EQ(entities("&LT;&Amp;&quot"), "&LT;&Amp;&quot");
    EXPECT_EQ(entities("&amp;lt;"), "&lt;");
    EXPECT_EQ(entities("&&lt;"), "&<");
}

TEST(HtmlEntities, NumericEntitiesAreTwoHexadecimalDigits) {
    EXPECT_EQ(entities("&#41;"), "A");
    EXPECT_EQ(entities("&#3C;"), "<");
    EXPECT_EQ(entities("&#3c;&#7e;"), "<~");
    EXPECT_EQ(entities("&#4;&#411;&#x41;&#41&#G1;"), "&#4;&#411;&#x41;&#41&#G1;");
    EXPECT_EQ(entities("x&#41"), "x&#41");
}

TEST(HtmlEntities, DecodedZeroEndsTheText) {
    EXPECT_EQ(entities("ab&#00;cd&lt;"), "ab");
    EXPECT_EQ(entities(std::string("ab\0&lt;", 7)), "ab");
}

TEST(HtmlEntities, TwoByteCharactersPassWhole) {
    // 表 is 0x95 0x5C: its trail byte is the backslash code.
    EXPECT_EQ(entities("表&amp;表"), "表&表");
    // A lead byte takes the "&" after it as its trail, so no entity starts there.
    EXPECT_EQ(entities("\x81&lt;"), "\x81&lt;");
    EXPECT_EQ(entities("&lt;\x81"), "<\x81");
}

TEST(PercentDecode, PlusIsASpaceOnlyWhenAsked) {
    EXPECT_EQ(decoded("a+b", false), "a+b");
    EXPECT_EQ(decoded("a+b", true), "a b");
    EXPECT_EQ(decoded("%2B+", true), "+ ");
}

TEST(PercentDecode, MalformedEscapesAreCopied) {
    EXPECT_EQ(decoded("x%4", false), "x%4");
    EXPECT_EQ(decoded("%G1", false), "%G1");
    EXPECT_EQ(decoded("100%", false), "100%");
    EXPECT_EQ(decoded("%%41", false), "%A");
    EXPECT_EQ(decoded("%2f%2F%7e", false), "//~");
}

TEST(PercentDecode, DecodedZeroEndsTheText) {
    EXPECT_EQ(decoded("ab%00cd", false), "ab");
    EXPECT_EQ(decoded("%00", false), "");
}

TEST(PercentDecode, EncodedShiftJisBecomesTheCharacter) {
    EXPECT_EQ(decoded("%95%5C%95%5c", false), "表表");
}

TEST(FileNameEscape, EscapesEveryListedByte) {
    EXPECT_EQ(escaped("?\"/\\<>*|:%"), "%3F%22%2F%5C%3C%3E%2A%7C%3A%25");
    EXPECT_EQ(escaped("text/html"), "text%2Fhtml");
    EXPECT_EQ(escaped("\x01\x1F"), "%01%1F");
    EXPECT_EQ(escaped("a b~\x7F.'"), "a b~\x7F.'");
}

TEST(FileNameEscape, SingleByteCharactersAbove0x7FAreEscaped) {
    EXPECT_EQ(escaped("\xB1"), "%B1");  // half-width katakana
    EXPECT_EQ(escaped("\x80\xA0\xDF\xFD\xFF"), "%80%A0%DF%FD%FF");
}

TEST(FileNameEscape, TwoByteCharactersAreNeverEscaped) {
    EXPECT_EQ(escaped("表/"), "表%2F");
    EXPECT_EQ(escaped("\x81\x7C"), "\x81\x7C");  // trail byte equal to "|"
}

TEST(FileNameEscape, LeadByteWithoutItsTrailIsEscapedAlone) {
    // Windows would pair the lead byte with the byte after the element, or
    // with a byte no trail can be, and list the pair back as another character.
    EXPECT_EQ(escaped("a\x81"), "a%81");
    EXPECT_EQ(escaped("\x81/x"), "%81%2Fx");
    EXPECT_EQ(escaped("\x81%41"), "%81%2541");
    EXPECT_EQ(escaped("\xE0(\x81 "), "%E0(%81 ");
    EXPECT_EQ(escaped("\x81\x40\x81\x3F"), "\x81\x40%81%3F");
}

TEST(FileNameEscape, PercentDecodingGivesTheTextBack) {
    for (std::string text : {"a\x81", "\x81%41", "表/%\x81", "text/html; q=\"x\"", "\xB1\x81:\x81\x7C", "%25%"}) {
        std::string back = escaped(text);
        percent_decode(back, false);
        EXPECT_EQ(back, text);
    }
}

TEST(Base64, Rfc4648TestVectors) {
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode("f"), "Zg==");
    EXPECT_EQ(base64_encode("fo"), "Zm8=");
    EXPECT_EQ(base64_encode("foo"), "Zm9v");
    EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, HighBytesAndTheEndOfTheSource) {
    EXPECT_EQ(base64_encode("\xFF\xFE\xFD"), "//79");
    EXPECT_EQ(base64_encode("user:表"), "dXNlcjqVXA==");
    EXPECT_EQ(base64_encode(std::string_view("ab\0cd", 5)), "YWI=");
}

}  // namespace
}  // namespace vellum
