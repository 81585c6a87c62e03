// The small text codecs shared by the store, the cookie and credential files
// and the link extractor: HTML entities in link values, percent-decoding of
// URL parts, the escaping that turns a URL segment into a legal file name, and
// Base64 for Basic authentication.
//
// Texts are code page 932 byte strings that end at their first zero byte: a
// zero byte already in the input, or one that a decoder produces, ends the
// text, and the decoders cut the string there. The walks that must not split
// a two-byte character ask is_lead_byte (base/lead_byte.h). No state; any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

// "&lt;" "&gt;" "&quot;" "&amp;" (case-sensitive) and "&#" + exactly two
// hexadecimal digits + ";" (read as hexadecimal: "&#41;" is 'A'). Two-byte
// characters are copied whole. Never grows.
void decode_html_entities(std::string& text);

// "%" + two hexadecimal digits becomes that byte; with plus_as_space a "+"
// becomes a space. A malformed escape is copied. Not double-byte aware: no
// trail byte of code page 932 is "%" or "+". Never grows.
void percent_decode(std::string& text, bool plus_as_space);

// Replaces ? " / \ < > * | : and "%", every byte below 0x20 and every
// single-byte byte of 0x80 or above (half-width katakana) by "%" and two
// upper-case hexadecimal digits. Two-byte characters are copied whole; a lead
// byte without a trail byte after it (at the end, or before a byte below
// 0x40) counts as a single byte and is escaped, so percent_decode always
// gives the text back. Grows to at most three times the length.
void escape_for_file_name(std::string& text);

// RFC 4648 Base64 with "=" padding and no line breaks, of the source up to its
// first zero byte.
std::string base64_encode(std::string_view source);

}  // namespace vellum
