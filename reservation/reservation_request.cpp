#include "reservation/reservation_request.h"

namespace vellum {

std::string build_reservation_request(std::string_view url, std::optional<std::string_view> referer,
                                      std::string_view user_agent) {
    constexpr std::string_view kGet = "GET ";
    constexpr std::string_view kVersion = " HTTP/1.0\r\n";
    constexpr std::string_view kReferer = "Referer: ";
    constexpr std::string_view kUserAgent = "User-Agent: ";
    constexpr std::string_view kLineEnd = "\r\n";
    constexpr std::string_view kHeaderEnd = "\r\n\r\n";

    std::string request;
    request.reserve(kReservationMarker.size() + kReservationMethodLine.size() + kGet.size() + url.size() +
                    kVersion.size() + (referer ? kReferer.size() + referer->size() + kLineEnd.size() : 0) +
                    kUserAgent.size() + user_agent.size() + kHeaderEnd.size());
    request.append(kReservationMarker).append(kReservationMethodLine);
    request.append(kGet).append(url).append(kVersion);
    if (referer) request.append(kReferer).append(*referer).append(kLineEnd);
    request.append(kUserAgent).append(user_agent).append(kHeaderEnd);
    return request;
}

}  // namespace vellum
