// The main window's command table: every menu, tray-menu and toolbar command
// goes through OnCommand; and the request tree's mouse, keys and context menu.
#include "autoget/autoget_window.h"
#include "resources/resource.h"
#include "shell/main_window.h"
#include "shell/mode_rules.h"
#include "shell/settings.h"

namespace vellum {

bool MainWindow::OnCommand(UINT id) {
    switch (id) {
    case ID_FILE_EXIT: OnExit(); return true;
    }
    return false;
}

void MainWindow::OnExit() {
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

bool MainWindow::run_request_command(HTREEITEM, UINT) {
    return false;
}

bool MainWindow::OnTreeKeyDown(const NMTVKEYDOWN*) {
    return false;
}

bool MainWindow::OnTreeContextMenu(LPARAM) {
    return false;
}

}  // namespace vellum
