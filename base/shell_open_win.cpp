#include "base/shell_open_win.h"

#include <shellapi.h>

namespace vellum {
namespace {

ShellOpener* g_opener = nullptr;

}  // namespace

bool shell_open(HWND owner, const std::string& target) {
    if (g_opener) return g_opener->open(owner, target);
    // Values above 32 mean success.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

ShellOpener* set_shell_opener(ShellOpener* opener) {
    ShellOpener* old = g_opener;
    g_opener = opener;
    return old;
}

}  // namespace vellum
