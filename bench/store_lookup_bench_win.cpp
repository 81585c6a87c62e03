// store_lookup_bench: what looking up a recorded page costs among 200 and
// 4,000 files under Wine, listing the folder at every look-up (no store lock
// held: the plain path, as every look-up went before the kept listings) and
// answered from the folder's kept listing (the store lock held), and what a
// crawled page's round of store calls costs both ways (the crawler's look-up,
// the proxy's look-up, the receiving file, the commit, the crawler's two
// look-ups after it). A tidy (tidy_recorded_page) is the listing alone,
// without opening the page. Each figure is the best of five batches of
// `rounds`, the machine being shared. Figures are printed, never checked.
//
//   store_lookup_bench [rounds]      (default 200)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/http_date.h"
#include "store/folder_listing_win.h"
#include "store/recorded_page_win.h"
#include "store/store_files_win.h"
#include "store/store_lock_win.h"
#include "store/url_map.h"

namespace {

using namespace vellum;

double seconds_now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void write_file(const std::string& path, const std::string& bytes) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void remove_tree(const std::string& path) {
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA((path + "\\*").c_str(), &data));
    if (search) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path + "\\" + name);
            } else {
                DeleteFileA((path + "\\" + name).c_str());
            }
        } while (FindNextFileA(search.get(), &data));
    }
    search.reset();
    RemoveDirectoryA(path.c_str());
}

ServerResponse answer(int version) {
    ServerResponse response;
    response.status = 200;
    response.content_type = version % 2 ? "text/html" : "text/plain";
    FileTime time = 0;
    response.last_modified_valid = parse_http_date("Sun, 06 Nov 1994 08:49:37 GMT", time);
    response.last_modified_time = time + version;
    return response;
}

void record(const std::string& save, const ParsedUrl& url, int version) {
    const std::string receiving = receiving_file_name(url_store_path(save, url).value(), 104);
    {
        StoreLockHold hold;
        FileHandle file = create_file_with_folders(receiving);
        DWORD written = 0;
        WriteFile(file.get(), "<html>body</html>", 17, &written, nullptr);
    }
    StoreLockHold hold;
    commit_recorded_page(save, url, answer(version), receiving);
}

bool look_up(const std::string& save, const ParsedUrl& url) {
    StoreLockHold hold;
    return open_recorded_page(save, url).has_value();
}

// Seconds per call of `call`, the best of five batches of `rounds`.
template <typename Call>
double best_of_batches(int rounds, Call call) {
    double best = 1e9;
    for (int batch = 0; batch < 5; ++batch) {
        const double start = seconds_now();
        for (int i = 0; i < rounds; ++i) call(i);
        best = std::min(best, (seconds_now() - start) / rounds);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string save = std::string(temp) + "vellum-store-bench-" + std::to_string(GetCurrentProcessId());
    const ParsedUrl url = parse_url("http://server/dir/page.html").value();
    std::printf("%-6s  %-32s  %10s  %10s\n", "files", "per call", "listed", "kept");
    for (int files : {200, 4000}) {
        remove_tree(save);
        CreateDirectoryA(save.c_str(), nullptr);
        CreateDirectoryA((save + "\\server").c_str(), nullptr);
        const std::string folder = save + "\\server\\dir";
        CreateDirectoryA(folder.c_str(), nullptr);
        // Recorded pages with their companions, as a crawl leaves them.
        for (int i = 0; i + 2 < files; i += 2) {
            const std::string page = folder + "\\page" + std::to_string(i) + ".html";
            write_file(page, "<html>another page</html>");
            write_file(page + "(19941106084937 text%2Fhtml)", "");
        }
        StoreLock lock;
        install_store_lock(&lock);
        record(save, url, 0);

        const std::string page_path = url_store_path(save, url).value();
        const char* const rows[] = {"look-up", "tidy (the listing alone)", "page round (4 look-ups, commit)"};
        double figures[3][2] = {};
        for (int way = 0; way < 2; ++way) {
            // The plain way holds no store lock, as every look-up went before.
            install_store_lock(way == 0 ? nullptr : &lock);
            look_up(save, url);
            Sleep(50);  // past the settling wait of the commit's last stamp
            figures[0][way] = best_of_batches(rounds, [&](int) { look_up(save, url); });
            figures[1][way] = best_of_batches(rounds, [&](int) {
                StoreLockHold hold;
                tidy_recorded_page(page_path);
            });
            figures[2][way] = best_of_batches(rounds / 8 + 1, [&](int i) {
                look_up(save, url);
                look_up(save, url);
                record(save, url, way * rounds + i + 1);
                look_up(save, url);
                look_up(save, url);
            });
        }
        for (int row = 0; row < 3; ++row) {
            std::printf("%-6d  %-32s  %7.3f ms  %7.3f ms\n", files, rows[row], figures[row][0] * 1e3,
                        figures[row][1] * 1e3);
        }
        const KeptListingCounts counts = [] {
            StoreLockHold hold;
            return kept_listing_counts();
        }();
        std::printf("        full listings of the folder: %zu; look-ups answered from kept names: %zu\n", counts.listings,
                    counts.answered);
        {
            StoreLockHold hold;
            forget_kept_listings();
        }
        install_store_lock(nullptr);
    }
    remove_tree(save);
    return 0;
}
