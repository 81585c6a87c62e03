#include "reservation/send_reservation_win.h"

#include <climits>
#include <cstdint>
#include <new>
#include <string>

#include "base/registry_win.h"
#include "base/win_handles.h"
#include "reservation/reservation_request.h"

namespace vellum {
namespace {

// Throws std::bad_alloc when the text can't be held.
std::string to_ansi(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted.data(), size, nullptr, nullptr);
    converted.resize(static_cast<std::size_t>(size) - 1);  // the terminator
    return converted;
}

std::optional<ReservationFailure> find_proxy(sockaddr_in* proxy) {
    RegKey key = open_key_for_reading(HKEY_CURRENT_USER, kProgramKeyPath);
    if (!key) return ReservationFailure::kNotInstalled;
    // Both values exist exactly while the program listens.
    const std::optional<std::uint32_t> address = find_dword(key.get(), "ServerAddress");
    const std::optional<std::uint32_t> port = find_dword(key.get(), "ServerPort");
    if (!address || !port) return ReservationFailure::kNotRunning;
    *proxy = sockaddr_in{};
    proxy->sin_family = AF_INET;
    proxy->sin_addr.s_addr = htonl(*address);
    proxy->sin_port = htons(static_cast<u_short>(*port));
    return std::nullopt;
}

}  // namespace

std::optional<ReservationFailure> send_reservation(const wchar_t* url, const wchar_t* referer,
                                                   const wchar_t* user_agent) {
    sockaddr_in proxy;
    if (const std::optional<ReservationFailure> failure = find_proxy(&proxy)) return failure;
    if (!url) return ReservationFailure::kNoUrl;
    if (!user_agent) return ReservationFailure::kNoUserAgent;

    // Script hosts pass an empty text for a page without a referrer, and COM
    // holds a null text and an empty one to be the same.
    const bool has_referer = referer && *referer;
    std::string request;
    try {
        const std::string ansi_referer = has_referer ? to_ansi(referer) : std::string();
        request = build_reservation_request(to_ansi(url),
                                            has_referer ? std::optional<std::string_view>(ansi_referer) : std::nullopt,
                                            to_ansi(user_agent));
    } catch (const std::bad_alloc&) {
        return ReservationFailure::kNoMemory;
    }

    UniqueSocket connection(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!connection) return ReservationFailure::kNoSocket;
    if (connect(connection.get(), reinterpret_cast<const sockaddr*>(&proxy), sizeof proxy) == SOCKET_ERROR)
        return ReservationFailure::kCannotConnect;
    // One send call; no reply is read.
    const int size = request.size() > INT_MAX ? INT_MAX : static_cast<int>(request.size());
    const int sent = send(connection.get(), request.data(), size, 0);
    if (sent == SOCKET_ERROR || static_cast<std::size_t>(sent) != request.size())
        return ReservationFailure::kCannotSend;
    return std::nullopt;
}

}  // namespace vellum
