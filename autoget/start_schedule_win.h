// The auto-get start dialog's schedule wait, as the rest of the program sees
// it: while the dialog waits for its start time of day, the program refuses
// to close. The dialog keeps the state; this is its one question. UI thread.
#pragma once

namespace vellum {

// The start dialog is waiting for its scheduled start time.
bool autoget_schedule_waiting();

}  // namespace vellum
