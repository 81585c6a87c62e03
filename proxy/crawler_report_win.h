// Reports of the proxy engine to the crawler thread about requests that carry
// the auto-get marker. Nothing is posted while no crawler thread runs.
//
// The auto-get window registers the crawler thread when it starts a run and
// clears it when the thread has ended; connection threads post from any
// thread. CRM_FETCH_AUTH carries a std::string* that the crawler adopts and
// frees (freed here when the post fails).
#pragma once

#include <windows.h>

#include <string>

namespace vellum {

void set_crawler_thread_id(DWORD thread_id);  // 0: no crawler thread
DWORD crawler_thread_id();

void report_fetch_done(int response_code);
// `text` is a constant message (never freed) or nullptr.
void report_fetch_failed(int status, const char* text);
void report_fetch_auth(const std::string& challenge);

}  // namespace vellum
