// A small tmpfs mounted for a test and unmounted after it, so that a disk
// really fills up under the code being tested. Mounting needs root; under
// Wine the test asks the Unix side through Wine's own process creation.
// Tests skip when mounted() is false.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/temp_folder_win.h"

namespace vellum::testing {

// Starts a Unix command through Wine's own process creation. Wine gives no
// waitable handle for a Unix process, so callers watch for its effect.
inline bool start_unix(const std::string& command) {
    // Wine hands the child a Windows-style PATH.
    std::string line = "/bin/sh -c \"PATH=/usr/sbin:/usr/bin:/sbin:/bin; " + command + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

class SmallDisk {
public:
    // `size` as mount's tmpfs option takes it ("64k", "1m"), optionally with
    // more tmpfs options after a comma ("1m,nr_inodes=8" also runs out of
    // files).
    explicit SmallDisk(const std::string& size = "64k") {
        static int counter = 0;
        unix_path_ = "/tmp/vellum-full-disk-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        // Wine's drive Z: is the Unix root.
        path_ = "Z:" + unix_path_;
        for (char& c : path_) {
            if (c == '/') c = '\\';
        }
        if (start_unix("mkdir -p " + unix_path_ + " && mount -t tmpfs -o size=" + size + " tmpfs " + unix_path_)) {
            mounted_ = wait_until_mounted(true);
        }
    }
    ~SmallDisk() {
        if (start_unix("umount " + unix_path_ + " && rmdir " + unix_path_)) wait_until_mounted(false);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }

private:
    bool is_mounted() const {
        // Wine reports the free space of the drive Z: as a whole, so ask the
        // kernel's own table.
        return read_file("Z:\\proc\\mounts").find(" " + unix_path_ + " tmpfs ") != std::string::npos;
    }
    bool wait_until_mounted(bool wanted) const {
        for (int i = 0; i < 100; ++i) {
            if (is_mounted() == wanted) return true;
            Sleep(50);
        }
        return false;
    }

    std::string unix_path_;
    std::string path_;
    bool mounted_ = false;
};

}  // namespace vellum::testing
