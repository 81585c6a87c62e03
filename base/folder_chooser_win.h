// Choosing a folder with the shell's folder browser, extended with a
// right-click menu on the selected folder: "新規フォルダ作成" makes a subfolder
// in it (its name asked with base/folder_name_dialog_win.h), "フォルダ削除"
// removes it when it is empty.
//
// The browser can't refresh its tree after such a change, so after a
// successful create or delete the chooser closes the browser (choose_folder
// gives kFolderNotChosen) and then posts kReopenFolderMessage (wParam 0,
// lParam 0) to the owner. The owner answers it by calling choose_folder again
// with the same title and no start folder, and takes that call's result as
// the result of the first: the browser comes back at the same place with the
// new folder (or the deleted folder's parent) selected.
//
// A dialog uses it like this (a ModalDialog, base/dialog_win.h):
//
//   void JobDialog::pick_folder(const std::optional<std::string>& start) {
//       std::string chosen;
//       if (choose_folder(dialog(), "自動取得の保存先を指定してください", start, chosen) != kFolderChosen) return;
//       ...  // chosen is empty for an item with no file-system path
//   }
//   bool on_command(UINT id, UINT) override {   // its "change" button
//       if (id != IDC_JOB_CHANGE_FOLDER) return false;
//       pick_folder(item_text(IDC_JOB_SAVE_FOLDER));
//       return true;
//   }
//   INT_PTR on_message(UINT message, WPARAM, LPARAM) override {
//       if (message != kReopenFolderMessage) return FALSE;
//       pick_folder(std::nullopt);
//       return TRUE;
//   }
//
// Every message box of the chooser is a system-modal warning captioned with
// the program title. UI thread only; one chooser is open at a time, and its
// state (the owner, the folder to select and the place of the browser when
// it re-opens) is kept between openings.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "base/messages.h"

namespace vellum {

// The re-open request posted to the chooser's owner, whatever window that is.
inline constexpr UINT kReopenFolderMessage = MWM_REOPEN_FOLDER;

inline constexpr int kFolderChosen = 1;
inline constexpr int kFolderNotChosen = 2;  // cancelled, or closed itself to re-open

// Opens the browser owned by `owner` with `title` above its tree. With a
// start folder the browser opens at the mouse pointer with that folder
// selected; without one (a re-open) where the last browser closed itself,
// with the folder it named selected. On kFolderChosen, `result` becomes the
// chosen folder's path when the path is shorter than `buffer_size` bytes
// (otherwise it is left alone); the path is empty for an item with no
// file-system path (the computer, the network, ...).
int choose_folder(HWND owner, const std::string& title, const std::optional<std::string>& start_folder,
                  std::string& result, std::size_t buffer_size = MAX_PATH);

}  // namespace vellum
