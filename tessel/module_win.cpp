#include "tessel/module_win.h"

#include <atomic>

namespace vellum {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_usage{0};

// The registry keeps the path for the class's InprocServer32 and a cut path
// would name another file, so the buffer grows until the whole path fits.
template <typename Char, typename GetFileName>
std::basic_string<Char> module_file_name(GetFileName get_file_name) {
    std::basic_string<Char> path(MAX_PATH, Char{});
    for (;;) {
        const DWORD length = get_file_name(component_module(), path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

void set_component_module(HMODULE module) { g_module = module; }

HMODULE component_module() { return g_module ? g_module : GetModuleHandleA(nullptr); }

std::string component_module_path() { return module_file_name<char>(GetModuleFileNameA); }

std::wstring component_module_path_wide() { return module_file_name<wchar_t>(GetModuleFileNameW); }

void lock_component() { ++g_usage; }
void unlock_component() { --g_usage; }
bool component_in_use() { return g_usage.load() != 0; }

}  // namespace vellum
