// Dial-up in a program built without Remote Access Service support: no line
// is ever up, none can be dialled, and the phone book is empty.
#include "proxy/dialup_win.h"

namespace vellum {

bool dialup_is_connected() {
    return false;
}

bool dialup_dial(const std::string&, const std::string&, const std::string&) {
    return false;
}

int dialup_hang_up_all() {
    return 0;
}

bool dialup_list_entries(RASDIALPARAMSA*, DWORD& count) {
    count = 0;
    return false;
}

}  // namespace vellum
