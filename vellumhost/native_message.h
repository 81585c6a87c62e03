// The browser's side of vellumhost.exe: native messaging frames each message
// as a 4-byte length in the machine's byte order (little-endian on every
// Windows the program runs on) followed by that many bytes of UTF-8 JSON, in
// both directions. This module reads the frames, takes a reservation message
// apart and builds the answers; it decides nothing about the proxy.
//
// Pure apart from the streams it is given; any one thread; every result is
// owned by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

// The largest message the host takes; the extension sends a few hundred
// bytes, so anything bigger is a fault of the sender, not a page to reserve.
inline constexpr std::uint32_t kMaxNativeMessageSize = 1024 * 1024;

// A byte source the frames are read from (standard input in vellumhost.exe).
class NativeInput {
public:
    virtual ~NativeInput() = default;
    // Up to `size` bytes into `buffer`; 0 at the end of the input or on an error.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

enum class NativeRead {
    kMessage,    // `*body` holds one whole message
    kEnd,        // the input ended between two messages
    kTruncated,  // the input ended inside a length or a body
    kTooLarge,   // the length was over kMaxNativeMessageSize; its bytes were read and dropped
};

// Reads one frame. A message that is too large is still read to its end, so
// that the next frame is found where its sender put it.
NativeRead read_native_message(NativeInput& input, std::string* body);

// `json` with its length in front, as the browser reads it.
std::string frame_native_message(std::string_view json);

// The fields of a reservation message, each none when missing or null. The
// texts are UTF-8, checked to be well formed and free of zero characters.
struct ReservationMessage {
    std::optional<std::string> url;
    std::optional<std::string> referer;
    std::optional<std::string> user_agent;  // "userAgent"
};

enum class MessageError {
    kNone,
    kBadJson,       // not one well-formed JSON text, or not UTF-8
    kNotAnObject,   // well formed, but not an object
    kFieldNotText,  // `field` holds a number, a boolean, an array or an object
    kZeroInField,   // `field` holds a zero character
    kUrlNotHttp,    // the URL begins with neither "http://" nor "https://"
};

struct ParsedMessage {
    MessageError error = MessageError::kNone;
    std::string field;           // the field's name for kFieldNotText and kZeroInField
    ReservationMessage message;  // meaningful only without an error
};

// Unknown fields are allowed and passed over; when a field appears twice
// the last one counts.
ParsedMessage parse_reservation_message(std::string_view json);

// The answer text for an error, in the ANSI code page.
std::string message_error_text(const ParsedMessage& parsed);

// {"ok":true|false,"message":"<text>"} with `text_utf8` escaped for JSON.
std::string build_native_answer(bool ok, std::string_view text_utf8);

}  // namespace vellum
