// Paces updates nobody can see faster than the screen shows them: progress
// reports, the request tree's repaint, the status bar's text. The caller
// brings the millisecond tick (GetTickCount64 on Windows), so the rules run
// the same on the host. Single-threaded: each owner keeps its own.
#pragma once

#include <cstdint>
#include <optional>

namespace vellum {

// About one frame of a 30 Hz screen: often enough that a bar or a growing
// tree looks live, rare enough that painting stays off the request path.
inline constexpr std::uint64_t kScreenPaceMs = 33;

// True when an update at `now` comes a pace or more after the last one let
// through (or is the first); `pass` records that one was let through.
class PaceGate {
public:
    bool due(std::uint64_t now) const { return !last_ || now - *last_ >= kScreenPaceMs; }
    void pass(std::uint64_t now) { last_ = now; }

private:
    std::optional<std::uint64_t> last_;
};

// One relay's progress: a percent is reported when it differs from the last
// one reported and a pace has gone by; the last percent computed is always
// reported at the end (finish), so a bar ends where the relay ended.
class ProgressPace {
public:
    // True when `percent` is to be reported now.
    bool report(int percent, std::uint64_t now) {
        latest_ = percent;
        if (percent == reported_ || !gate_.due(now)) return false;
        gate_.pass(now);
        reported_ = percent;
        return true;
    }
    // The last percent computed if it was held back, once.
    std::optional<int> finish() {
        if (latest_ < 0 || latest_ == reported_) return std::nullopt;
        reported_ = latest_;
        return latest_;
    }

private:
    PaceGate gate_;
    int reported_ = -1;
    int latest_ = -1;
};

// The main window's bar, shared by every connection: a browser relay's
// percent goes to it only once the relay has lasted a pace (a bar moved for
// less than a frame is never seen), and once a pace at most across all
// connections. Its owner holds a lock around it.
class SharedBarPace {
public:
    // True when a relay started at `relay_started` may report at `now`.
    bool due(std::uint64_t relay_started, std::uint64_t now) {
        if (now - relay_started < kScreenPaceMs || !gate_.due(now)) return false;
        gate_.pass(now);
        return true;
    }

private:
    PaceGate gate_;
};

}  // namespace vellum
