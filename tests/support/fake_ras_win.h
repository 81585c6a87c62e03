// A Remote Access Service stand-in for the tests: a phone book and a line
// the test sets up, installed as the program's RAS table for the fixture's
// lifetime. Every call is recorded by name, with the size field of the
// record it was given, so that tests can tell which calls were made. Any
// thread (connection threads dial through it).
#pragma once

#include <windows.h>
#include <raserror.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "proxy/ras_api_win.h"

namespace vellum::testing {

class FakeRas : public RasApi {
public:
    struct Entry {
        std::string name;
        std::string user;
        std::string password;
    };
    struct Call {
        std::string name;  // "enum_connections", "dial", "hang_up", "enum_entries", "get_entry_dial_params"
        DWORD record_size = 0;  // of the first record given, 0 when none
        std::string entry, user, password;  // what dial and get_entry_dial_params were given
        HRASCONN connection = nullptr;      // what hang_up was given
    };

    FakeRas() : previous_(set_ras_api(this)) {}
    ~FakeRas() { set_ras_api(previous_); }
    FakeRas(const FakeRas&) = delete;
    FakeRas& operator=(const FakeRas&) = delete;

    // The set-up.
    std::vector<Entry> phone_book;
    std::vector<HRASCONN> lines;         // connections up now
    DWORD dial_result = 0;               // 0: the dial brings a line up
    bool dial_leaves_handle = true;      // a failed dial still hands out a handle
    int failing_params_index = -1;       // get_entry_dial_params fails for this entry

    std::vector<Call> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<std::string> call_names() {
        std::vector<std::string> names;
        for (const Call& c : calls()) names.push_back(c.name);
        return names;
    }
    void forget_calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

    DWORD enum_connections(RasConnRecord* buffer, DWORD* bytes, DWORD* count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call("enum_connections", buffer ? buffer->dwSize : 0));
        const DWORD needed = static_cast<DWORD>(lines.size() * sizeof(RasConnRecord));
        *count = static_cast<DWORD>(lines.size());
        if (!buffer || *bytes < needed) {
            *bytes = needed;
            return lines.empty() ? 0 : ERROR_BUFFER_TOO_SMALL;
        }
        if (buffer->dwSize != sizeof(RasConnRecord)) return ERROR_INVALID_SIZE;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            buffer[i].hrasconn = lines[i];
            std::strcpy(buffer[i].szEntryName, "line");
        }
        return 0;
    }

    DWORD dial(RasDialParamsRecord* params, HRASCONN* connection) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Call dialled = call("dial", params->dwSize);
        dialled.entry = params->szEntryName;
        dialled.user = params->szUserName;
        dialled.password = params->szPassword;
        calls_.push_back(dialled);
        if (dial_result == 0 || dial_leaves_handle) *connection = next_handle();
        if (dial_result == 0) lines.push_back(*connection);
        return dial_result;
    }

    DWORD hang_up(HRASCONN connection) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Call hung_up = call("hang_up", 0);
        hung_up.connection = connection;
        calls_.push_back(hung_up);
        std::erase(lines, connection);
        return 0;
    }

    DWORD enum_entries(RasEntryNameRecord* buffer, DWORD* bytes, DWORD* count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call("enum_entries", buffer ? buffer->dwSize : 0));
        const DWORD needed = static_cast<DWORD>(phone_book.size() * sizeof(RasEntryNameRecord));
        *count = static_cast<DWORD>(phone_book.size());
        if (!buffer || *bytes < needed) {
            *bytes = needed;
            return phone_book.empty() ? 0 : ERROR_BUFFER_TOO_SMALL;
        }
        if (buffer->dwSize != sizeof(RasEntryNameRecord)) return ERROR_INVALID_SIZE;
        for (std::size_t i = 0; i < phone_book.size(); ++i) {
            std::memset(buffer[i].szEntryName, 0, sizeof buffer[i].szEntryName);
            phone_book[i].name.copy(buffer[i].szEntryName, RAS_MaxEntryName);
        }
        return 0;
    }

    DWORD get_entry_dial_params(RasDialParamsRecord* params, BOOL* password_saved) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Call asked = call("get_entry_dial_params", params->dwSize);
        asked.entry = params->szEntryName;
        calls_.push_back(asked);
        for (std::size_t i = 0; i < phone_book.size(); ++i) {
            if (phone_book[i].name != params->szEntryName) continue;
            if (static_cast<int>(i) == failing_params_index) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
            phone_book[i].user.copy(params->szUserName, UNLEN);
            phone_book[i].password.copy(params->szPassword, PWLEN);
            *password_saved = !phone_book[i].password.empty();
            return 0;
        }
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }

private:
    static Call call(const char* name, DWORD record_size) {
        Call c;
        c.name = name;
        c.record_size = record_size;
        return c;
    }
    HRASCONN next_handle() { return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(0x100 + handles_++)); }

    RasApi* previous_;
    std::mutex mutex_;
    std::vector<Call> calls_;
    int handles_ = 0;
};

}  // namespace vellum::testing
