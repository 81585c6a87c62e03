// The auto-get window's command table: the menu bar, the toolbar and the
// tree's context menu and keys all come through OnCommand, one function per
// command. The tree commands act on the menu node, which the context menu or
// the key handler sets around the command.
#include <windows.h>
#include <shellapi.h>

#include "autoget/autoget_dialogs_win.h"
#include "autoget/autoget_window.h"
#include "base/clipboard_win.h"
#include "base/icons_win.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "cookies/cookies_win.h"
#include "proxy/crawler_report_win.h"
#include "resources/resource.h"

namespace vellum {

bool AutoGetWindow::OnCommand(UINT id) {
    thaw_tree();
    switch (id) {
    case ID_AUTOGET_START: OnStart(); return true;
    case ID_AUTOGET_STOP: OnStop(); return true;
    case ID_AUTOGET_PASSWORDS: OnPasswords(); return true;
    case ID_PAGE_SETTINGS: OnJobSettings(); return true;
    case ID_PAGE_SKIP: OnSkip(); return true;
    case ID_PAGE_COPY: OnCopy(); return true;
    case ID_PAGE_SEARCH: OnSearch(); return true;
    case ID_PAGE_BROWSE: OnBrowse(); return true;
    case ID_PAGE_RESET: OnReset(); return true;
    case ID_PAGE_DELETE: OnDelete(); return true;
    }
    return false;
}

void AutoGetWindow::OnStart() {
    if (run_in_progress()) return;
    // The start dialog decides whether and when; until it ends with a start
    // nothing changes.
    std::optional<AutoGetStart> start = run_start_dialog(window(), settings_.recStart);
    if (!start || run_in_progress()) return;
    settings_.recStart = std::move(*start);

    const std::optional<ProxyEndpoint> proxy = host_.proxy_endpoint();
    if (!proxy) return;
    signals_.transfers_cut = false;
    signals_.program_closing = false;
    CrawlerStart params;
    params.window = window();
    params.proxy_address = proxy->address;
    params.proxy_port = proxy->port;
    params.signals = &signals_;
    crawler_ = start_crawler_thread(params);
    if (!crawler_) return;
    // From here on the proxy engine reports the crawler's requests to it.
    set_crawler_thread_id(crawler_->id);
    current_ = nullptr;
    deferral_.forget();
    show_run_state(true);
}

void AutoGetWindow::OnStop() {
    if (!run_in_progress()) return;
    enable_stop(false);
    post_to_crawler(CRM_STOP, 0, 0);
    if (current_ && current_->activity() != 0) {
        enter_defer();
        const bool at_once = ask_yes_no(window(), kStopQuestion, MB_SYSTEMMODAL);
        leave_defer();
        // No: the run ends after the current file.
        if (!at_once) return;
        // The run may have ended while the question was up.
        if (!run_in_progress()) return;
    }
    signals_.transfers_cut = true;
    if (ConnectionRegistry* connections = host_.connections()) cut_crawler_transfers(*connections);
    end_retry_wait_now();
}

void AutoGetWindow::OnPasswords() {
    show_credentials_dialog(window());
}

void AutoGetWindow::OnJobSettings() {
    if (!menu_node_ || !menu_node_->job()) return;
    AutoGetJob& job = *menu_node_->job();
    std::optional<AutoGetJob> edited = run_job_settings_dialog(window(), job);
    if (!edited) return;
    // What the user chose last becomes the default of the next reservation.
    settings_.recStatusModify = static_cast<std::uint32_t>(edited->updateCheck);
    settings_.recStatusLimit = static_cast<std::uint32_t>(edited->restrictAll);
    settings_.recStatusLink = static_cast<std::uint32_t>(edited->maxDepth);
    settings_.recStatusRetry = static_cast<std::uint32_t>(edited->retryCount);
    settings_.recStatusRetryTimer = static_cast<std::uint32_t>(edited->retryInterval);
    settings_.recStatusRequisites = edited->pageRequisites != 0 ? 1 : 0;
    job = std::move(*edited);
}

void AutoGetWindow::OnSkip() {
    if (menu_node_) tree_->toggle_skip(*menu_node_);
}

void AutoGetWindow::OnCopy() {
    if (menu_node_) put_text_on_clipboard(window(), menu_node_->url());
}

void AutoGetWindow::OnSearch() {
    if (!menu_node_) return;
    UrlSearch search{settings_.recScanString, settings_.recScanUplow != 0};
    const SearchDirection direction = run_search_dialog(window(), search);
    if (direction == SearchDirection::cancelled) return;
    settings_.recScanString = search.text;
    settings_.recScanUplow = search.caseSensitive ? 1 : 0;
    if (!search.text.empty()) {
        tree_->search_tree(menu_node_, search.text, search.caseSensitive, direction == SearchDirection::up);
    }
    SetFocus(tree_view_);
}

void AutoGetWindow::OnBrowse() {
    if (!menu_node_ || menu_node_->result() == 0) return;
    // The system's handler for the URL (normally the browser) opens it.
    ShellExecuteA(window(), "open", menu_node_->url().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void AutoGetWindow::OnReset() {
    if (menu_node_ && tree_->reset_to_waiting(*menu_node_, current_) == TreeEdit::busy) show_tree_busy();
}

void AutoGetWindow::OnDelete() {
    if (!menu_node_) return;
    if (tree_->delete_subtree(*menu_node_, current_) == TreeEdit::busy) {
        show_tree_busy();
        return;
    }
    menu_node_ = nullptr;  // gone with its subtree
}

void AutoGetWindow::show_tree_busy() {
    show_message(window(), kTreeBusyMessage, kProgramTitle, MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL);
}

void AutoGetWindow::enable_stop(bool enabled) {
    EnableMenuItem(GetMenu(window()), ID_AUTOGET_STOP, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(window());
    if (toolbar_) SendMessageA(toolbar_, TB_ENABLEBUTTON, ID_AUTOGET_STOP, MAKELPARAM(enabled ? TRUE : FALSE, 0));
}

void AutoGetWindow::show_run_state(bool running) {
    HMENU menu = GetMenu(window());
    const UINT idle_items = MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED);
    EnableMenuItem(menu, ID_AUTOGET_START, idle_items);
    EnableMenuItem(menu, ID_AUTOGET_PASSWORDS, idle_items);
    if (toolbar_) SendMessageA(toolbar_, TB_ENABLEBUTTON, ID_AUTOGET_START, MAKELPARAM(running ? FALSE : TRUE, 0));
    enable_stop(running);
    if (HICON icon = small_icon(running ? IDI_AUTOGET_RUNNING : IDI_AUTOGET)) {
        SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
}

}  // namespace vellum
