// The bytes tessel.dll and vellumhost.exe send to the running proxy to
// reserve a URL for auto-get: the component's marker line, the method line,
// then an ordinary GET request the proxy parses like a browser's.
//
// Pure function of its arguments (texts already in the ANSI code page); any
// thread; the caller owns the result.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellum {

// The first line of every reservation; the proxy compares these 12 bytes
// before anything else.
inline constexpr std::string_view kReservationMarker = "TESSEL.DLL\r\n";
inline constexpr std::string_view kReservationMethodLine = "ReserveAutoGet\r\n";

// The Referer line is left out when `referer` is none.
std::string build_reservation_request(std::string_view url, std::optional<std::string_view> referer,
                                      std::string_view user_agent);

}  // namespace vellum
