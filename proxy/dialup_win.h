// The dial-up connection: the four Remote Access Service operations the
// program uses, all on the default phone book. A connection thread dials
// before it contacts a server when its copy of the dial-up settings says so;
// the main window asks at exit whether to hang up, the auto-get window hangs
// up after a run when told to, and the dial-up settings dialog lists the
// phone book.
//
// Any thread; there is no lock (two connections that find the line down may
// both dial; the second finds it up or fails). Every RAS failure comes back
// as false or 0; nothing is shown. The calls go through ras_api()
// (proxy/ras_api_win.h), where tests put a phone book of their own.
#pragma once

#include <windows.h>

#include <string>

#include "proxy/ras_api_win.h"

namespace vellum {

// The machine has at least one active RAS connection, of any entry.
bool dialup_is_connected();

// Dials `entry` (at most 256 bytes of each text are used) and blocks until
// the line is up or the attempt failed; true when connected, also at once
// when any connection is up already. A failed attempt hangs up what it began.
bool dialup_dial(const std::string& entry, const std::string& user, const std::string& password);

// Hangs up every active RAS connection of the machine, not only one this
// program dialled, without waiting for the lines to drop; how many there were.
int dialup_hang_up_all();

// The phone book. With `entries` null: true when it holds at least one entry,
// with their number in `count`. With an array of `count` records: fills each
// with an entry's name and its saved user name and password (szEntryName,
// szUserName, szPassword), in phone-book order; true only when every entry
// was read. `count` then says how many records were filled completely.
bool dialup_list_entries(RasDialParamsRecord* entries, DWORD& count);

}  // namespace vellum
