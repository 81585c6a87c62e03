#include "autoget/autoget_window.h"

#include <cstring>
#include <memory>
#include <string>

#include "autoget/outline_request.h"
#include "base/format_win.h"
#include "base/icons_win.h"
#include "base/messages.h"
#include "base/placement_win.h"
#include "base/prompt.h"
#include "base/toolbar_win.h"
#include "base/frame_controls_win.h"
#include "http/url_text.h"
#include "resources/resource.h"

namespace vellum {
namespace {

AutoGetWindow* g_instance = nullptr;

}  // namespace

bool register_autoget_window_class(HINSTANCE instance) {
    return register_program_window_class(instance, kAutoGetWindowClass, &Window::procedure, IDI_AUTOGET,
                                         IDM_AUTOGET);
}

HWND create_autoget_window(HINSTANCE instance, AutoGetSettings& settings, AutoGetHost& host) {
    return Window::create(std::unique_ptr<Window>(new AutoGetWindow(settings, host)),
                          program_window_params(kAutoGetWindowClass, instance));
}

AutoGetWindow* AutoGetWindow::existing() {
    return g_instance;
}

AutoGetWindow::~AutoGetWindow() {
    if (g_instance == this) g_instance = nullptr;
}

LRESULT AutoGetWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE:
        g_instance = this;
        break;
    case WM_NCDESTROY:
        if (g_instance == this) g_instance = nullptr;
        break;
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_SIZE:
        OnSize(wparam, lparam);
        return 0;
    case WM_SETFOCUS:
        if (tree_view_) SetFocus(tree_view_);
        return 0;
    case WM_CLOSE:
        ShowWindow(window(), SW_HIDE);
        return 0;
    case WM_QUERYENDSESSION:
        DestroyWindow(window());
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lparam));
    case WM_COPYDATA:
        return OnCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lparam));
    case WM_CONTEXTMENU:
        if (OnContextMenu(reinterpret_cast<HWND>(wparam), lparam)) return 0;
        break;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wparam))) return 0;
        break;
    case WM_TIMER:
        OnTimer(wparam);
        return 0;

    case AGM_PROGRESS:
        OnProgress(wparam);
        return 0;
    case AGM_END:
        OnEnd(wparam, lparam);
        return 0;
    case AGM_AUTH:
        OnAuth(wparam, lparam);
        return 0;
    case AGM_NEXT:
        OnNext(wparam, lparam);
        return 0;
    case AGM_RESULT:
        OnResult(wparam, lparam);
        return 0;
    case AGM_RETRY:
        OnRetry(wparam, lparam);
        return 0;
    }
    return default_procedure(message, wparam, lparam);
}

void AutoGetWindow::OnCreate() {
    SetWindowTextA(window(), format_text("自動取得 - %s", kProgramTitle).c_str());
    current_ = nullptr;
    menu_node_ = nullptr;
    deferral_.forget();
    AutoGetSettings& s = settings_;
    restore_placement(window(), {s.recWindowPosLeft, s.recWindowPosTop, s.recWindowPosRight, s.recWindowPosBottom});
    create_controls();
    show_run_state(false);
}

void AutoGetWindow::create_controls() {
    toolbar_ = create_program_toolbar(window(), instance(), toolbar_bitmap_);
    // Of the program's button table this window shows the first separator
    // and the crawler's two buttons.
    for (int removed = 0; toolbar_ && removed < 5; ++removed) SendMessageA(toolbar_, TB_DELETEBUTTON, 1, 0);

    static constexpr int kWholeWidth[] = {-1};
    status_bar_ = create_status_bar_with_progress(window(), instance(), kWholeWidth, progress_bar_);
    state_images_.reset(
        ImageList_LoadBitmap(instance(), MAKEINTRESOURCEA(IDB_PAGE_STATES), 16, 1, RGB(128, 128, 128)));
    tree_view_ = create_state_tree(window(), instance(), IDC_PAGE_TREE, toolbar_, status_bar_, state_images_.get());
    tree_view_adapter_ = std::make_unique<Win32PageTreeView>(tree_view_);
    tree_ = std::make_unique<PageTree>(*tree_view_adapter_);

    tree_menu_resource_.reset(LoadMenuA(instance(), MAKEINTRESOURCEA(IDM_AUTOGET_TREE)));
    tree_menu_ = tree_menu_resource_ ? GetSubMenu(tree_menu_resource_.get(), 0) : nullptr;
}

void AutoGetWindow::OnSize(WPARAM type, LPARAM size) {
    // Both bars place themselves along their edge of the new client area.
    if (toolbar_) SendMessageA(toolbar_, WM_SIZE, type, size);
    if (status_bar_) SendMessageA(status_bar_, WM_SIZE, type, size);
    layout();
}

void AutoGetWindow::layout() {
    if (progress_bar_) {
        RECT part{};
        SendMessageA(status_bar_, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
        MoveWindow(progress_bar_, part.left, part.top, part.right - part.left, part.bottom - part.top, TRUE);
    }
    if (tree_view_) {
        RECT client{};
        GetClientRect(window(), &client);
        const int top = height_of(toolbar_);
        MoveWindow(tree_view_, 0, top, client.right, client.bottom - top - height_of(status_bar_), TRUE);
    }
}

void AutoGetWindow::OnDestroy() {
    kill_retry_timer();
    thaw_tree();
    AutoGetSettings& s = settings_;
    remember_placement(window(), {s.recWindowPosLeft, s.recWindowPosTop, s.recWindowPosRight, s.recWindowPosBottom});
    if (tree_view_) TreeView_SetImageList(tree_view_, nullptr, TVSIL_STATE);
    state_images_.reset();
    tree_menu_ = nullptr;
    tree_menu_resource_.reset();
    if (tree_) tree_->clear();
    current_ = menu_node_ = nullptr;
}

LRESULT AutoGetWindow::OnNotify(NMHDR* header) {
    if (answer_toolbar_tooltip(header)) return 0;
    LRESULT result = 0;
    if (header->hwndFrom == tree_view_ && OnTreeNotify(header, result)) return result;
    return default_procedure(WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

LRESULT AutoGetWindow::OnCopyData(const COPYDATASTRUCT& request) {
    if (!tree_) return FALSE;
    if (request.dwData == kOutlineRequest && request.cbData == sizeof(std::uint64_t)) {
        std::uint64_t asker = 0;
        std::memcpy(&asker, request.lpData, sizeof asker);
        std::string text;
        for (const PageOutlineLine& line : page_tree_outline(*tree_)) {
            text += std::to_string(line.depth) + ' ' + std::to_string(line.image) + ' ' + line.label + '\n';
        }
        COPYDATASTRUCT reply{kOutlineReply, static_cast<DWORD>(text.size()), text.data()};
        SendMessageA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(asker)), WM_COPYDATA,
                     reinterpret_cast<WPARAM>(window()), reinterpret_cast<LPARAM>(&reply));
        return TRUE;
    }
    if (request.dwData == kSelectRequest && request.cbData == sizeof(std::int32_t)) {
        std::int32_t index = -1;
        std::memcpy(&index, request.lpData, sizeof index);
        PageNode* node = index < 0 ? nullptr : page_tree_node_at(*tree_, static_cast<std::size_t>(index));
        HTREEITEM item = node ? tree_view_adapter_->make_item(*node) : nullptr;
        return item && TreeView_SelectItem(tree_view_, item) ? TRUE : FALSE;
    }
    return FALSE;
}

void AutoGetWindow::show() {
    if (!IsWindowVisible(window())) ShowWindow(window(), SW_SHOW);
    if (IsIconic(window())) ShowWindow(window(), SW_RESTORE);
    SetForegroundWindow(window());
}

void AutoGetWindow::enter_defer() {
    ++defer_depth_;
    deferral_.begin();
}

void AutoGetWindow::leave_defer() {
    if (defer_depth_ == 0 || --defer_depth_ > 0) return;
    deferral_.end(window());
}

ReserveOutcome AutoGetWindow::reserve(HWND owner, const ProxyRequest& request, std::string_view saveFolder) {
    // The URL as its node will carry it, so that a second reservation of
    // the same page is always recognised.
    const std::string url = url_text(request.parsed_url).value_or(request.url.value_or(""));
    const ReserveOutcome outcome = reserve_base_url(
        *tree_, settings_, saveFolder, request.method.value_or(""), url, request.parsed_url,
        request.parsed_referer, request.user_agent,
        [owner] { return ask_yes_no(owner, kDuplicateBaseQuestion, MB_SYSTEMMODAL); });
    if (outcome == ReserveOutcome::not_get) show_warning(owner, kNotGetMessage);
    return outcome;
}

HWND autoget_window() {
    return g_instance ? g_instance->window() : nullptr;
}

bool autoget_run_in_progress() {
    return g_instance && g_instance->run_in_progress();
}

void post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) {
    if (g_instance) g_instance->post_to_crawler(message, wparam, lparam);
}

void show_autoget_window() {
    if (g_instance) g_instance->show();
}

void autoget_enter_defer() {
    if (g_instance) g_instance->enter_defer();
}

void autoget_leave_defer() {
    if (g_instance) g_instance->leave_defer();
}

bool autoget_deferring() {
    return g_instance && g_instance->deferring();
}

ReserveOutcome autoget_reserve(HWND owner, const ProxyRequest& request, std::string_view saveFolder) {
    if (!g_instance) return ReserveOutcome::refused;
    return g_instance->reserve(owner, request, saveFolder);
}

}  // namespace vellum
