// vellumhost.exe's whole run: one answer for every message the browser
// sends, until its input ends. The proxy and the text conversions are behind
// a seam (HostPlatform), so the run is the same under test as in the program.
//
// The program's only thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "reservation/reservation_failure.h"
#include "vellumhost/native_message.h"

namespace vellum {

// The answer to a message whose reservation reached the proxy.
inline constexpr char kReservedText[] = "自動取得に予約しました";
inline constexpr char kMessageTooLargeText[] = "メッセージが 1 MB を超えています";
inline constexpr char kMessageTruncatedText[] = "メッセージが途中で切れています";

class HostPlatform {
public:
    virtual ~HostPlatform() = default;
    // Sends the reservation (the message has passed every check); none when
    // it reached the proxy.
    virtual std::optional<ReservationFailure> reserve(const ReservationMessage& message) = 0;
    // The answers' texts are in the ANSI code page; the browser reads UTF-8.
    virtual std::string to_utf8(std::string_view ansi) = 0;
    // One framed answer to the browser; false when it can't be written.
    virtual bool write(std::string_view bytes) = 0;
};

// 0 when the input ended between messages, 1 when it ended inside one or an
// answer could not be written.
int run_native_host(NativeInput& input, HostPlatform& platform);

}  // namespace vellum
