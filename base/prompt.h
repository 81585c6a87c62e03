// The one seam through which the program shows a message box or asks a question.
//
// Production code calls show_message(); by default it is MessageBoxA. Tests
// install a Prompter that records the text and answers as scripted, so no
// test ever waits for a person. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "base/program_title.h"

namespace vellum {

class Prompter {
public:
    virtual ~Prompter() = default;
    // Same contract as MessageBoxA: returns IDOK, IDYES, IDNO, ...
    virtual int show(HWND owner, const std::string& text, const std::string& caption, UINT flags) = 0;
};

int show_message(HWND owner, const std::string& text, const std::string& caption, UINT flags);

// Warnings are system-modal with the warning icon, captioned with the program title.
void show_warning(HWND owner, const std::string& text);
// Yes/No question with the question icon; true for Yes.
bool ask_yes_no(HWND owner, const std::string& text, UINT extra_flags = 0);

// Replaces the prompter for the current process; returns the previous one.
// nullptr restores MessageBoxA.
Prompter* set_prompter(Prompter* prompter);

}  // namespace vellum
