#include "base/prompt.h"

namespace vellum {
namespace {

Prompter* g_prompter = nullptr;

}  // namespace

int show_message(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    if (g_prompter) return g_prompter->show(owner, text, caption, flags);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

void show_warning(HWND owner, const std::string& text) {
    show_message(owner, text, kProgramTitle, MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL);
}

bool ask_yes_no(HWND owner, const std::string& text, UINT extra_flags) {
    return show_message(owner, text, kProgramTitle, MB_YESNO | MB_ICONQUESTION | extra_flags) == IDYES;
}

Prompter* set_prompter(Prompter* prompter) {
    Prompter* old = g_prompter;
    g_prompter = prompter;
    return old;
}

}  // namespace vellum
