#include "base/dialog_win.h"

#include <vector>

#include "base/placement_win.h"

namespace vellum {
namespace {

// The modeless dialog being made on this thread and not bound yet (see
// ModelessDialog::open).
thread_local Dialog* t_unbound = nullptr;

Dialog* bound_to(HWND dialog) {
    return reinterpret_cast<Dialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

}  // namespace

INT_PTR CALLBACK Dialog::procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lparam);
        if (!self) return FALSE;
        if (t_unbound == self) t_unbound = nullptr;
        self->dialog_ = dialog;
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        if (self->title_) SetWindowTextA(dialog, self->title_);
        self->on_init();
        place_at_cursor(dialog);
        return TRUE;
    }
    Dialog* self = bound_to(dialog);
    if (!self) return FALSE;
    if (message == WM_COMMAND) return self->command(LOWORD(wparam), HIWORD(wparam)) ? TRUE : FALSE;
    const INT_PTR result = self->on_message(message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        self->dialog_ = nullptr;
        self->on_destroyed();
    }
    return result;
}

std::string Dialog::item_text(int id, std::size_t limit) const {
    std::vector<char> text(limit + 1, '\0');
    GetDlgItemTextA(dialog_, id, text.data(), static_cast<int>(text.size()));
    return text.data();
}

void Dialog::set_item_text(int id, const std::string& text) {
    SetDlgItemTextA(dialog_, id, text.c_str());
}

bool Dialog::is_checked(int id) const {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Dialog::set_checked(int id, bool on) {
    CheckDlgButton(dialog_, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void Dialog::enable_item(int id, bool on) {
    EnableWindow(item(id), on ? TRUE : FALSE);
}

LRESULT Dialog::send_item(int id, UINT message, WPARAM wparam, LPARAM lparam) const {
    return SendDlgItemMessageA(dialog_, id, message, wparam, lparam);
}

void Dialog::set_result(LRESULT result) {
    SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, result);
}

HINSTANCE Dialog::instance_of(HWND) {
    // The dialog templates are linked into the module that holds this code
    // (the program file, or a test program). The owner's module is no guide:
    // a dialog opened over the shell's folder browser has shell32's.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&Dialog::procedure), &module)) {
        return GetModuleHandleA(nullptr);
    }
    return module;
}

INT_PTR ModalDialog::run(HWND parent) {
    return DialogBoxParamA(instance_of(parent), MAKEINTRESOURCEA(template_id()), parent, &Dialog::procedure,
                           reinterpret_cast<LPARAM>(static_cast<Dialog*>(this)));
}

void ModalDialog::end(INT_PTR result) {
    EndDialog(dialog(), result);
}

bool ModalDialog::command(UINT id, UINT code) {
    if (id == IDOK) {
        if (on_ok()) end(IDOK);
        return true;
    }
    if (id == IDCANCEL) {
        if (on_cancel()) end(IDCANCEL);
        return true;
    }
    return on_command(id, code);
}

HWND ModelessDialog::open(std::unique_ptr<ModelessDialog> self, HWND owner) {
    ModelessDialog* const raw = self.release();
    Dialog* const outer = t_unbound;
    t_unbound = raw;
    HWND dialog = CreateDialogParamA(instance_of(owner), MAKEINTRESOURCEA(raw->template_id()), owner,
                                     &Dialog::procedure, reinterpret_cast<LPARAM>(static_cast<Dialog*>(raw)));
    // Never bound: the template or the window could not be made.
    if (t_unbound == raw) delete raw;
    t_unbound = outer;
    if (dialog) ShowWindow(dialog, SW_SHOW);
    return dialog;
}

void ModelessDialog::close() {
    DestroyWindow(dialog());
}

void ModelessDialog::on_destroyed() {
    delete this;
}

bool ModelessDialog::command(UINT id, UINT code) {
    if (on_command(id, code)) return true;
    if (id != IDCANCEL) return false;
    close();
    return true;
}

}  // namespace vellum
