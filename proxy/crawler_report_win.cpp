#include "proxy/crawler_report_win.h"

#include <atomic>
#include <memory>

#include "base/messages.h"
#include "base/thread_message.h"

namespace vellum {
namespace {

std::atomic<DWORD> g_crawler_thread{0};

}  // namespace

void set_crawler_thread_id(DWORD thread_id) {
    g_crawler_thread.store(thread_id);
}

DWORD crawler_thread_id() {
    return g_crawler_thread.load();
}

void report_fetch_done(int response_code) {
    if (DWORD id = crawler_thread_id()) PostThreadMessageA(id, CRM_FETCH_DONE, static_cast<WPARAM>(response_code), 0);
}

void report_fetch_failed(int status, const char* text) {
    if (DWORD id = crawler_thread_id()) {
        PostThreadMessageA(id, CRM_FETCH_FAILED, static_cast<WPARAM>(status), reinterpret_cast<LPARAM>(text));
    }
}

void report_fetch_auth(const std::string& challenge) {
    if (DWORD id = crawler_thread_id()) post_thread_owned(id, CRM_FETCH_AUTH, std::make_unique<std::string>(challenge));
}

}  // namespace vellum
