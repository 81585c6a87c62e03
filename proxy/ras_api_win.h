// The Remote Access Service calls the dial-up operations (proxy/dialup_win.h)
// are made of, as one small table, so that tests can stand in a phone book
// and a line of their own; and the records those calls take, in the oldest
// versions that every RAS accepts.
//
// RasApi mirrors the five RASAPI32 calls on the default phone book, with
// their status words (0 success, else a RAS or system error code). The
// program uses platform_ras_api(); a test installs its own with set_ras_api
// before any thread dials, and restores the old one afterwards. Any thread
// may call through ras_api(); the installed table must allow that.
#pragma once

#include <windows.h>
#include <lmcons.h>
#include <ras.h>

#include <cstddef>

namespace vellum {

// The records as Windows 95 and NT 4 defined them, before the fields that
// later versions appended. RAS tells the versions apart by their size field
// alone, which the program sets to sizeof the record. In a 32-bit process
// they are 1052, 264 and 412 bytes; the 64-bit build uses the same versions,
// whose connection record grows by its 8-byte handle and alignment.
struct RasDialParamsRecord {
    DWORD dwSize;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
    CHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
    CHAR szUserName[UNLEN + 1];
    CHAR szPassword[PWLEN + 1];
    CHAR szDomain[DNLEN + 1];
};
static_assert(sizeof(RasDialParamsRecord) == 1052);

struct RasEntryNameRecord {
    DWORD dwSize;
    CHAR szEntryName[RAS_MaxEntryName + 1];
};
static_assert(sizeof(RasEntryNameRecord) == 264);

struct RasConnRecord {
    DWORD dwSize;
    HRASCONN hrasconn;
    CHAR szEntryName[RAS_MaxEntryName + 1];
    CHAR szDeviceType[RAS_MaxDeviceType + 1];
    CHAR szDeviceName[RAS_MaxDeviceName + 1];
};
static_assert(sizeof(RasConnRecord) == (sizeof(void*) == 4 ? 412 : 424));

// The longest entry name, user name or password the records take; longer
// texts are cut.
inline constexpr std::size_t kRasTextLimit = 256;

class RasApi {
public:
    // RasEnumConnectionsA: `buffer` may be null with *bytes 0, to learn the
    // count (ERROR_BUFFER_TOO_SMALL then is the expected answer).
    virtual DWORD enum_connections(RasConnRecord* buffer, DWORD* bytes, DWORD* count) = 0;
    // RasDialA, synchronous: no notifier, no extensions. *connection may be
    // set even when the dial fails.
    virtual DWORD dial(RasDialParamsRecord* params, HRASCONN* connection) = 0;
    // RasHangUpA; returns before the line has dropped.
    virtual DWORD hang_up(HRASCONN connection) = 0;
    // RasEnumEntriesA: null `buffer` with *bytes 0 learns the count.
    virtual DWORD enum_entries(RasEntryNameRecord* buffer, DWORD* bytes, DWORD* count) = 0;
    // RasGetEntryDialParamsA: adds the saved user name and password to the
    // record that names the entry.
    virtual DWORD get_entry_dial_params(RasDialParamsRecord* params, BOOL* password_saved) = 0;

protected:
    ~RasApi() = default;
};

// The table in use: the platform's unless a test installed its own.
RasApi& ras_api();
RasApi& platform_ras_api();
// Installs `api` (nullptr: the platform's again); returns the previous one.
RasApi* set_ras_api(RasApi* api);

}  // namespace vellum
