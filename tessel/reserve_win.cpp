#include "tessel/reserve_win.h"

#include <cstdint>
#include <climits>
#include <new>
#include <optional>
#include <string>

#include "base/prompt.h"
#include "base/registry_win.h"
#include "base/win_handles.h"
#include "tessel/reservation_request.h"

namespace vellum {
namespace {

void warn(const char* text) { show_message(nullptr, text, kComponentCaption, MB_OK | MB_ICONWARNING); }

// Throws std::bad_alloc when the text can't be held.
std::string to_ansi(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted.data(), size, nullptr, nullptr);
    converted.resize(static_cast<std::size_t>(size) - 1);  // the terminator
    return converted;
}

std::optional<sockaddr_in> find_proxy() {
    RegKey key = open_key_for_reading(HKEY_CURRENT_USER, kProgramKeyPath);
    if (!key) {
        warn("Vellum がインストールされていません");
        return std::nullopt;
    }
    // Both values exist exactly while the program listens.
    const std::optional<std::uint32_t> address = find_dword(key.get(), "ServerAddress");
    const std::optional<std::uint32_t> port = find_dword(key.get(), "ServerPort");
    if (!address || !port) {
        warn("Vellum が起動されていません");
        return std::nullopt;
    }
    sockaddr_in proxy{};
    proxy.sin_family = AF_INET;
    proxy.sin_addr.s_addr = htonl(*address);
    proxy.sin_port = htons(static_cast<u_short>(*port));
    return proxy;
}

}  // namespace

void reserve_auto_get(const wchar_t* url, const wchar_t* referer, const wchar_t* user_agent) {
    const std::optional<sockaddr_in> proxy = find_proxy();
    if (!proxy) return;
    if (!url) return warn("URL が未指定です");
    if (!user_agent) return warn("UserAgent が未指定です");

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
        return warn("メモリを確保できません");
    }

    UniqueSocket connection(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!connection) return warn("ソケットが作成できません");
    if (connect(connection.get(), reinterpret_cast<const sockaddr*>(&*proxy), sizeof *proxy) == SOCKET_ERROR)
        return warn("Vellum に接続できません");
    // One send call; no reply is read.
    const int size = request.size() > INT_MAX ? INT_MAX : static_cast<int>(request.size());
    const int sent = send(connection.get(), request.data(), size, 0);
    if (sent == SOCKET_ERROR || static_cast<std::size_t>(sent) != request.size()) warn("Vellum に送信できません");
}

}  // namespace vellum
