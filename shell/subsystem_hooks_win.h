// What the main window asks of subsystems that are not part of the program
// yet: the auto-get schedule wait, dial-up, the cookie jar and the credential
// store. Each is a plain function with the behaviour of an absent subsystem
// (nothing waits, no line is up, nothing to load or save); the subsystem
// replaces the body when it arrives. UI thread.
#pragma once

namespace vellum {

// The auto-get start dialog is waiting for its scheduled start time.
bool autoget_schedule_waiting();

// The machine has at least one active dial-up connection.
bool dialup_is_connected();
// Hangs up every active dial-up connection; how many there were.
int dialup_hang_up_all();

// The cookie jar and the credential store, kept in files beside the program.
void cookie_jar_load();
void credentials_load();
void cookie_jar_save_and_free();
void credentials_save_and_free();

}  // namespace vellum
