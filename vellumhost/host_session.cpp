#include "vellumhost/host_session.h"

namespace vellum {
namespace {

bool answer(HostPlatform& platform, bool ok, std::string_view ansi_text) {
    return platform.write(frame_native_message(build_native_answer(ok, platform.to_utf8(ansi_text))));
}

}  // namespace

int run_native_host(NativeInput& input, HostPlatform& platform) {
    for (;;) {
        std::string body;
        switch (read_native_message(input, &body)) {
            case NativeRead::kEnd: return 0;
            // The browser has gone or sent half a frame; nothing after it can be read.
            case NativeRead::kTruncated: answer(platform, false, kMessageTruncatedText); return 1;
            case NativeRead::kTooLarge:
                if (!answer(platform, false, kMessageTooLargeText)) return 1;
                continue;
            case NativeRead::kMessage: break;
        }
        const ParsedMessage parsed = parse_reservation_message(body);
        bool written;
        if (parsed.error != MessageError::kNone) {
            written = answer(platform, false, message_error_text(parsed));
        } else if (const std::optional<ReservationFailure> failure = platform.reserve(parsed.message)) {
            written = answer(platform, false, reservation_failure_text(*failure));
        } else {
            written = answer(platform, true, kReservedText);
        }
        if (!written) return 1;
    }
}

}  // namespace vellum
