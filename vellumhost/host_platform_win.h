// vellumhost.exe's outside world: standard input and output as the browser's
// pipes, and the reservation sent through the code tessel.dll uses.
//
// The program's only thread; the socket library must be started before the
// first reservation.
#pragma once

#include <windows.h>

#include "vellumhost/host_session.h"

namespace vellum {

// Standard input through ReadFile: no C runtime stands between, so no byte
// is ever translated as text.
class StandardInput final : public NativeInput {
public:
    StandardInput();
    std::size_t read(char* buffer, std::size_t size) override;

private:
    HANDLE handle_;
};

class WindowsHostPlatform final : public HostPlatform {
public:
    WindowsHostPlatform();
    std::optional<ReservationFailure> reserve(const ReservationMessage& message) override;
    std::string to_utf8(std::string_view ansi) override;
    bool write(std::string_view bytes) override;

private:
    HANDLE output_;
};

}  // namespace vellum
