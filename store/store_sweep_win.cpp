#include "store/store_sweep_win.h"

#include <set>
#include <vector>

#include "store/recorded_page.h"
#include "store/recorded_page_win.h"
#include "store/store_lock_win.h"

namespace vellum {

bool StoreSweep::start(const std::string& save_folder) {
    stop();
    save_folder_ = save_folder;
    while (!save_folder_.empty() && save_folder_.back() == '\\') save_folder_.pop_back();
    stopping_ = false;
    pages_tidied_ = 0;
    thread_.reset(CreateThread(nullptr, 0, &StoreSweep::run, this, CREATE_SUSPENDED, nullptr));
    if (!thread_) return false;
    SetThreadPriority(thread_.get(), THREAD_PRIORITY_LOWEST);
    ResumeThread(thread_.get());
    return true;
}

void StoreSweep::stop() {
    if (!thread_) return;
    stopping_ = true;
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
}

bool StoreSweep::wait(DWORD milliseconds) const {
    return !thread_ || WaitForSingleObject(thread_.get(), milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI StoreSweep::run(void* self) {
    static_cast<StoreSweep*>(self)->sweep();
    return 0;
}

void StoreSweep::sweep() {
    if (save_folder_.empty()) return;
    // Folders still to look at; a list rather than recursion, for trees of
    // any depth.
    std::vector<std::string> folders{save_folder_};
    while (!folders.empty() && !stopping_) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        std::set<std::string> pages;
        WIN32_FIND_DATAA data;
        FindHandle search(FindFirstFileA((folder + "\\*").c_str(), &data));
        if (!search) continue;
        do {
            const std::string name = data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link could lead back up the tree, or out of it.
                if (name != "." && name != ".." && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                    folders.push_back(folder + "\\" + name);
                }
            } else if (std::optional<std::string> page = page_of_temporary_name(name)) {
                pages.insert(*page);
            }
        } while (!stopping_ && FindNextFileA(search.get(), &data));
        search.reset();
        for (const std::string& page : pages) {
            if (stopping_) return;
            StoreLockHold hold;
            tidy_recorded_page(folder + "\\" + page);
            ++pages_tidied_;
        }
    }
}

}  // namespace vellum
