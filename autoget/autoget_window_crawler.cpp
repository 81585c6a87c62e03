// The auto-get window's side of a run: the crawler thread's five messages,
// the retry wait on timer 102, and the progress its requests report through
// the main window. AGM_NEXT, AGM_RESULT and the retry timer change the tree,
// so while an interaction that may change it runs they are parked in the
// deferral's one slot; the crawler waits meanwhile (it has at most one
// message outstanding). AGM_AUTH, AGM_RETRY and AGM_END are never parked.
#include <memory>
#include <string>

#include "autoget/autoget_window.h"
#include "autoget/crawler_order.h"
#include "autoget/link_extractor.h"
#include "base/messages.h"
#include "base/prompt.h"
#include "base/thread_message.h"
#include "cookies/cookies_win.h"
#include "proxy/crawler_report_win.h"
#include "proxy/dialup_win.h"

namespace vellum {

void AutoGetWindow::post_to_crawler(UINT message, WPARAM wparam, LPARAM lparam) {
    if (!run_in_progress()) return;
    if (message == CRM_STOP && host_.program_closing()) {
        // Closing: nothing the crawler waits for may keep the program.
        signals_.program_closing = true;
        end_retry_wait_now();
    }
    PostThreadMessageA(crawler_->id, message, wparam, lparam);
}

void AutoGetWindow::reply_to_crawler(UINT message, WPARAM wparam) {
    if (run_in_progress()) PostThreadMessageA(crawler_->id, message, wparam, 0);
}

// The crawler's messages change the tree several times a page. The tree
// keeps each change at once but shows them on the next tick of the thaw
// timer, so that drawing a large tree costs once per tick rather than once
// per change.
void AutoGetWindow::freeze_tree() {
    tree_view_adapter_->freeze();
    if (!thaw_timer_.arm(window())) tree_view_adapter_->thaw();  // no timer: show each change as it comes
}

// Everything that reads the tree's screen (the user's clicks and keys, the
// commands, the run's end) first shows what it holds.
void AutoGetWindow::thaw_tree() {
    thaw_timer_.disarm(window());
    if (tree_view_adapter_) tree_view_adapter_->thaw();
}

void AutoGetWindow::OnNext(WPARAM wparam, LPARAM lparam) {
    if (deferral_.park_if_active(AGM_NEXT, wparam, lparam)) return;
    freeze_tree();
    PageNode* node = tree_->next_node(current_, settings_.recStart.linkOnly != 0, settings_.recStart.linkExtensions);
    if (node) {
        if (auto* buffer = reinterpret_cast<CrawlerOrder*>(lparam)) *buffer = crawler_order_for(*node);
        tree_->set_activity(*node, 1);
        if (node->item()) tree_view_adapter_->ensure_visible(node->item());
    }
    current_ = node;
    reply_to_crawler(CRM_NEXT, reinterpret_cast<WPARAM>(node));
}

void AutoGetWindow::OnResult(WPARAM wparam, LPARAM lparam) {
    if (deferral_.park_if_active(AGM_RESULT, wparam, lparam)) return;
    const int result = static_cast<int>(static_cast<INT_PTR>(wparam));
    if (current_) {
        freeze_tree();
        tree_->record_fetch_result(*current_, result);
        // The page's own resources first, then its hyperlinks, each in
        // document order.
        if (const auto* links = reinterpret_cast<const LinkList*>(lparam)) {
            tree_view_adapter_->begin_batch();
            for (int wanted : {0, 1}) {
                for (const LinkEntry& entry : *links) {
                    if (entry.isLink == wanted) tree_->add_child(wanted == 1, current_, &entry.url, nullptr);
                }
            }
            tree_view_adapter_->end_batch();
        }
    }
    reply_to_crawler(CRM_RESULT, 0);
}

void AutoGetWindow::OnRetry(WPARAM, LPARAM lparam) {
    if (current_ && current_->job() &&
        SetTimer(window(), kRetryTimerId, static_cast<UINT>(current_->job()->retryInterval), nullptr)) {
        retry_timer_set_ = true;
        if (auto* buffer = reinterpret_cast<CrawlerOrder*>(lparam)) *buffer = crawler_order_for(*current_);
        freeze_tree();
        tree_->set_activity(*current_, 2);
        if (current_->item()) tree_view_adapter_->ensure_visible(current_->item());
        return;
    }
    const bool had_node = current_ != nullptr;
    post_to_crawler(CRM_STOP, 0, 0);
    reply_to_crawler(CRM_RETRY, 0);
    show_warning(window(), had_node ? kRetryTimerFailedMessage : kUnknownDataMessage);
}

void AutoGetWindow::kill_retry_timer() {
    if (!retry_timer_set_) return;
    KillTimer(window(), kRetryTimerId);
    retry_timer_set_ = false;
}

void AutoGetWindow::OnTimer(WPARAM timer) {
    if (timer == thaw_timer_.id()) {
        thaw_tree();
        return;
    }
    if (timer != kRetryTimerId) return;
    kill_retry_timer();
    if (deferral_.park_if_active(WM_TIMER, timer, 0)) return;
    if (current_) {
        freeze_tree();
        tree_->set_activity(*current_, 1);
        if (current_->item()) tree_view_adapter_->ensure_visible(current_->item());
    }
    reply_to_crawler(CRM_RETRY, reinterpret_cast<WPARAM>(current_));
}

void AutoGetWindow::end_retry_wait_now() {
    // A stopped run must not wait out the interval: the crawler, told to
    // stop, fetches nothing more once it has its answer.
    if (!retry_timer_set_) return;
    OnTimer(kRetryTimerId);
}

void AutoGetWindow::OnAuth(WPARAM wparam, LPARAM lparam) {
    // Both texts stay the crawler's; it waits until it has the answer.
    const char* host = reinterpret_cast<const char*>(wparam);
    const char* challenge = reinterpret_cast<const char*>(lparam);
    std::optional<std::string> token;
    if (host && challenge) token = credentials_basic_token(host, challenge);
    if (!run_in_progress()) return;
    if (!token || !post_thread_owned(crawler_->id, CRM_AUTH, std::make_unique<std::string>(std::move(*token)))) {
        PostThreadMessageA(crawler_->id, CRM_AUTH, 0, 0);
    }
}

void AutoGetWindow::OnEnd(WPARAM wparam, LPARAM lparam) {
    if (!run_in_progress()) return;
    thaw_tree();
    WaitForSingleObject(crawler_->handle.get(), INFINITE);
    set_crawler_thread_id(0);
    crawler_.reset();
    kill_retry_timer();
    current_ = nullptr;
    deferral_.forget();
    show_run_state(false);
    dialup_hang_up_after_run(settings_.recStart.hangUp != 0);
    if (host_.program_closing()) {
        // The close sequence waited for this thread; it goes on now.
        if (HWND main = host_.main_window()) PostMessageA(main, WM_CLOSE, 0, 0);
        return;
    }
    if (const char* text = reinterpret_cast<const char*>(lparam)) {
        show_warning(window(), text);
    } else if (wparam == 0) {
        show_message(window(), settings_.recStart.linkOnly ? kLinkRunDoneMessage : kRunDoneMessage, kProgramTitle,
                     MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL);
    }
}

void AutoGetWindow::OnProgress(WPARAM percent) {
    if (progress_bar_) SendMessageA(progress_bar_, PBM_SETPOS, percent, 0);
}

}  // namespace vellum
