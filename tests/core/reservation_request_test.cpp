#include "reservation/reservation_request.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(ReservationRequest, MarkerMethodLineRequestLineRefererUserAgent) {
    EXPECT_EQ(build_reservation_request("http://example.com/a.html", "http://example.com/", "Mozilla/4.0"),
              "TESSEL.DLL\r\nReserveAutoGet\r\nGET http://example.com/a.html HTTP/1.0\r\n"
              "Referer: http://example.com/\r\nUser-Agent: Mozilla/4.0\r\n\r\n");
}

TEST(ReservationRequest, WithoutRefererFourLinesAndTheEmptyLine) {
    EXPECT_EQ(build_reservation_request("http://h/", std::nullopt, "UA"),
              "TESSEL.DLL\r\nReserveAutoGet\r\nGET http://h/ HTTP/1.0\r\nUser-Agent: UA\r\n\r\n");
}

TEST(ReservationRequest, LengthIsTheFixedTextPlusTheArguments) {
    // 43 bytes for the first three lines, 11 for the Referer line, 16 for the
    // User-Agent line and the empty line.
    EXPECT_EQ(build_reservation_request("u", std::nullopt, "a").size(), 43u + 16u + 2u);
    EXPECT_EQ(build_reservation_request("u", "r", "a").size(), 43u + 11u + 16u + 3u);
    EXPECT_EQ(build_reservation_request("", "", "").size(), 43u + 11u + 16u);
}

TEST(ReservationRequest, BytesPassUnchanged) {
    // "日本" in code page 932, one trail byte the code of a backslash.
    const std::string url = "http://h/\x93\xfa\x96{\\\x95\x5C";
    const std::string request = build_reservation_request(url, std::nullopt, "UA");
    EXPECT_NE(request.find("GET " + url + " HTTP/1.0\r\n"), std::string::npos);
    EXPECT_EQ(request.compare(0, kReservationMarker.size(), kReservationMarker), 0);
    EXPECT_EQ(kReservationMarker.size(), 12u);
}

}  // namespace
}  // namespace vellum
