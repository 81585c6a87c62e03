#include "proxy/ras_api_win.h"

#include <atomic>

namespace vellum {
namespace {

// The records are the old versions of the header's structures: the calls
// read their size field and never look past it.
class PlatformRasApi final : public RasApi {
public:
    DWORD enum_connections(RasConnRecord* buffer, DWORD* bytes, DWORD* count) override {
        return RasEnumConnectionsA(reinterpret_cast<LPRASCONNA>(buffer), bytes, count);
    }
    DWORD dial(RasDialParamsRecord* params, HRASCONN* connection) override {
        return RasDialA(nullptr, nullptr, reinterpret_cast<LPRASDIALPARAMSA>(params), 0, nullptr, connection);
    }
    DWORD hang_up(HRASCONN connection) override { return RasHangUpA(connection); }
    DWORD enum_entries(RasEntryNameRecord* buffer, DWORD* bytes, DWORD* count) override {
        return RasEnumEntriesA(nullptr, nullptr, reinterpret_cast<LPRASENTRYNAMEA>(buffer), bytes, count);
    }
    DWORD get_entry_dial_params(RasDialParamsRecord* params, BOOL* password_saved) override {
        return RasGetEntryDialParamsA(nullptr, reinterpret_cast<LPRASDIALPARAMSA>(params), password_saved);
    }
};

PlatformRasApi g_platform;
std::atomic<RasApi*> g_installed{nullptr};

}  // namespace

RasApi& platform_ras_api() {
    return g_platform;
}

RasApi& ras_api() {
    RasApi* installed = g_installed.load();
    return installed ? *installed : g_platform;
}

RasApi* set_ras_api(RasApi* api) {
    return g_installed.exchange(api);
}

}  // namespace vellum
