#include "vellumhost/host_platform_win.h"

#include <climits>
#include <new>
#include <string>

#include "reservation/send_reservation_win.h"

namespace vellum {
namespace {

// The parser has checked the texts to be well-formed UTF-8 without zeros.
std::wstring from_utf8(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

}  // namespace

StandardInput::StandardInput() : handle_(GetStdHandle(STD_INPUT_HANDLE)) {}

std::size_t StandardInput::read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD asked = size > 65536 ? 65536 : static_cast<DWORD>(size);
    // The browser closing its end reads as ERROR_BROKEN_PIPE: the end of the input.
    if (!ReadFile(handle_, buffer, asked, &got, nullptr)) return 0;
    return got;
}

WindowsHostPlatform::WindowsHostPlatform() : output_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

std::optional<ReservationFailure> WindowsHostPlatform::reserve(const ReservationMessage& message) {
    std::wstring url, referer, user_agent;
    try {
        if (message.url) url = from_utf8(*message.url);
        if (message.referer) referer = from_utf8(*message.referer);
        if (message.user_agent) user_agent = from_utf8(*message.user_agent);
    } catch (const std::bad_alloc&) {
        return ReservationFailure::kNoMemory;
    }
    return send_reservation(message.url ? url.c_str() : nullptr, message.referer ? referer.c_str() : nullptr,
                            message.user_agent ? user_agent.c_str() : nullptr);
}

std::string WindowsHostPlatform::to_utf8(std::string_view ansi) {
    // The answers' texts are the program's own, written in code page 932
    // whatever the system's code page is.
    constexpr UINT kTextCodePage = 932;
    if (ansi.empty()) return {};
    const int wide_size = MultiByteToWideChar(kTextCodePage, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (wide_size <= 0) return std::string(ansi);
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(kTextCodePage, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), wide_size);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

bool WindowsHostPlatform::write(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = left > 65536 ? 65536 : static_cast<DWORD>(left);
        if (!WriteFile(output_, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    // A pipe holds nothing back, but a file or console might.
    FlushFileBuffers(output_);
    return true;
}

}  // namespace vellum
