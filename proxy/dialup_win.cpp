#include "proxy/dialup_win.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vellum {
namespace {

// Copies at most kRasTextLimit bytes; the field (one byte longer) stays
// terminated because the record was zeroed.
void copy_field(char* field, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), kRasTextLimit));
}

RasDialParamsRecord blank_dial_params() {
    RasDialParamsRecord params{};
    params.dwSize = sizeof params;
    return params;
}

// How many connections are up: an enumeration into no buffer reports the
// count; its "buffer too small" is expected.
DWORD connection_count() {
    DWORD bytes = 0;
    DWORD count = 0;
    ras_api().enum_connections(nullptr, &bytes, &count);
    return count;
}

}  // namespace

bool dialup_is_connected() {
    return connection_count() != 0;
}

bool dialup_dial(const std::string& entry, const std::string& user, const std::string& password) {
    if (dialup_is_connected()) return true;
    RasDialParamsRecord params = blank_dial_params();
    copy_field(params.szEntryName, entry);
    copy_field(params.szUserName, user);
    copy_field(params.szPassword, password);
    HRASCONN connection = nullptr;
    if (ras_api().dial(&params, &connection) == 0) return true;
    // A failed attempt can leave a half-made connection that holds the port.
    if (connection) ras_api().hang_up(connection);
    return false;
}

int dialup_hang_up_all() {
    const DWORD wanted = connection_count();
    if (wanted == 0) return 0;
    std::vector<RasConnRecord> connections(wanted);
    for (RasConnRecord& c : connections) c.dwSize = sizeof c;
    DWORD bytes = static_cast<DWORD>(connections.size() * sizeof(RasConnRecord));
    DWORD count = 0;
    if (ras_api().enum_connections(connections.data(), &bytes, &count) != 0) return 0;
    // A line that dropped in between shortens the list.
    count = std::min<DWORD>(count, wanted);
    for (DWORD i = 0; i < count; ++i) ras_api().hang_up(connections[i].hrasconn);
    return static_cast<int>(count);
}

bool dialup_list_entries(RasDialParamsRecord* entries, DWORD& count) {
    if (!entries) {
        DWORD bytes = 0;
        DWORD found = 0;
        ras_api().enum_entries(nullptr, &bytes, &found);
        count = found;
        return found != 0;
    }
    const DWORD wanted = count;
    count = 0;
    if (wanted == 0) return false;
    std::vector<RasEntryNameRecord> names(wanted);
    for (RasEntryNameRecord& n : names) n.dwSize = sizeof n;
    DWORD bytes = static_cast<DWORD>(names.size() * sizeof(RasEntryNameRecord));
    DWORD found = 0;
    if (ras_api().enum_entries(names.data(), &bytes, &found) != 0 || found == 0) return false;
    found = std::min(found, wanted);
    for (DWORD i = 0; i < found; ++i) {
        RasDialParamsRecord params = blank_dial_params();
        std::memcpy(params.szEntryName, names[i].szEntryName, kRasTextLimit);
        BOOL password_saved = FALSE;
        if (ras_api().get_entry_dial_params(&params, &password_saved) != 0) return false;
        entries[i] = params;
        count = i + 1;
    }
    return true;
}

}  // namespace vellum
