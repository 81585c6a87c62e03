// The base of every dialog of the program, and the modal-dialog helper each
// settings dialog is written on.
//
// A modal dialog works on a copy of its record: the record is a public field
// the caller fills before run(), on_init() puts it into the controls, and
// on_ok() reads the controls back into it when the positive button is
// pressed. The caller takes the record back only when run() says IDOK, so a
// cancelled dialog touches nothing. A dialog is one small file pair:
//
//   // proxy_settings_dialog_win.h
//   class ProxySettingsDialog : public ModalDialog {
//   public:
//       ProxySettings record;  // in: what the dialog shows; out after IDOK: what the user set
//       explicit ProxySettingsDialog(const ProxySettings& current)
//           : ModalDialog(IDD_PROXY, "HTTPプロキシサーバーの設定"), record(current) {}
//   private:
//       void on_init() override {  // the record into the controls
//           set_checked(IDC_PROXY_USE, record.proxy != 0);
//           set_item_text(IDC_PROXY_ADDRESS, record.address);
//       }
//       bool on_ok() override {  // the controls into the record; false keeps the dialog open
//           record.proxy = is_checked(IDC_PROXY_USE) ? 1 : 0;
//           record.address = item_text(IDC_PROXY_ADDRESS);
//           return true;
//       }
//       bool on_command(UINT id, UINT code) override {  // anything else the controls do
//           if (id != IDC_PROXY_USE || code != BN_CLICKED) return false;
//           enable_item(IDC_PROXY_ADDRESS, is_checked(IDC_PROXY_USE));
//           return true;
//       }
//   };
//
//   // the caller, on the UI thread
//   ProxySettingsDialog dialog(settings().proxy);
//   if (dialog.run(window) == IDOK) settings().proxy = dialog.record;
//
// A dialog's own buttons end it with end(result), for example a "start"
// button that ends with IDOK after reading its controls. Messages other than
// WM_INITDIALOG and WM_COMMAND reach on_message (timers, the folder chooser's
// re-open request, ...). Every dialog opens with its caption replaced by its
// title and is placed at the mouse pointer inside the work area.
//
// A modeless dialog (the log windows) is made with ModelessDialog::open and
// belongs to its window: it is deleted when the window is destroyed.
//
// UI thread only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

namespace vellum {

class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // The dialog window while it is open, else nullptr.
    HWND dialog() const { return dialog_; }

    // The procedure of every dialog made from a Dialog.
    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

protected:
    // `template_id`: the dialog resource; `title`: the caption it opens with
    // (nullptr keeps the template's).
    explicit Dialog(int template_id, const char* title = nullptr) : template_id_(template_id), title_(title) {}
    virtual ~Dialog() = default;

    // WM_INITDIALOG: fills the controls. The caption is set before, the
    // dialog placed after.
    virtual void on_init() {}
    // WM_COMMAND from a control or a button; true when handled.
    virtual bool on_command(UINT /*id*/, UINT /*code*/) { return false; }
    // Any other message; TRUE when handled (DWLP_MSGRESULT carries a result,
    // set_result). The default handles nothing.
    virtual INT_PTR on_message(UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/) { return FALSE; }

    // The controls.
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    // A control's text, cut at `limit` bytes (a 260-byte buffer of the
    // stored format holds 259).
    std::string item_text(int id, std::size_t limit = 259) const;
    void set_item_text(int id, const std::string& text);
    bool is_checked(int id) const;
    void set_checked(int id, bool on);
    void enable_item(int id, bool on);
    LRESULT send_item(int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;
    // The result of a message handled in on_message.
    void set_result(LRESULT result);

    int template_id() const { return template_id_; }
    // The module whose resources hold the templates, whoever the owner is.
    static HINSTANCE instance_of(HWND owner);

private:
    friend class ModalDialog;
    friend class ModelessDialog;
    // Called after WM_NCDESTROY.
    virtual void on_destroyed() {}
    // WM_COMMAND as the kind of dialog treats it; true when handled.
    virtual bool command(UINT id, UINT code) = 0;

    int template_id_;
    const char* title_;
    HWND dialog_ = nullptr;
};

class ModalDialog : public Dialog {
public:
    // Shows the dialog owned by `parent` until it ends: IDOK after the
    // positive button's read step accepted the controls, IDCANCEL after
    // cancel (the Esc key, the close box), or what end() was given; -1 when
    // the dialog could not be made.
    INT_PTR run(HWND parent);

protected:
    using Dialog::Dialog;

    // IDOK: reads the controls into the record; false keeps the dialog open.
    virtual bool on_ok() { return true; }
    // IDCANCEL: true (the default) ends the dialog with IDCANCEL; false keeps
    // it open. The record is not touched either way.
    virtual bool on_cancel() { return true; }
    // Ends the dialog; run() returns `result`.
    void end(INT_PTR result);

private:
    bool command(UINT id, UINT code) final;
};

class ModelessDialog : public Dialog {
public:
    // Makes and shows the dialog of `self` owned by `owner`; the dialog
    // belongs to its window from then on. nullptr when it could not be made
    // (`self` is gone then too).
    static HWND open(std::unique_ptr<ModelessDialog> self, HWND owner);

protected:
    using Dialog::Dialog;

    // IDCANCEL (the Esc key, the close box): destroys the window.
    void close();

private:
    void on_destroyed() final;
    bool command(UINT id, UINT code) final;
};

}  // namespace vellum
