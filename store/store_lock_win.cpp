#include "store/store_lock_win.h"

#include <atomic>

namespace vellum {
namespace {

std::atomic<StoreLock*> g_store_lock{nullptr};

}  // namespace

StoreLock* store_lock() {
    return g_store_lock.load();
}

void install_store_lock(StoreLock* lock) {
    g_store_lock.store(lock);
}

bool store_lock_held_here() {
    StoreLock* lock = g_store_lock.load();
    return lock && lock->held_here();
}

}  // namespace vellum
