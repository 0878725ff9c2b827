// A test seam for the platform layer: a test arms one kind of operation to fail on
// its n-th next call, so every failure path of the core can be driven on purpose.
// Disarmed (the default), the check costs one relaxed atomic load.
#pragma once

#include <atomic>

namespace vellum::platform {

// `close` is the closing of a file the core checks (a written file); `size` is
// asking an open file for its size.
enum class Fault { none, open, create, read, write, flush, remove, rename, close, size };

namespace detail {
inline std::atomic<int> armedFault{0};
inline std::atomic<int> faultCountdown{0};
}  // namespace detail

// Makes the `nth` next call (1 = the very next) of operation `fault` fail.
inline void armFault(Fault fault, int nth) {
    detail::faultCountdown.store(nth, std::memory_order_relaxed);
    detail::armedFault.store(static_cast<int>(fault), std::memory_order_relaxed);
}
inline void disarmFaults() { detail::armedFault.store(0, std::memory_order_relaxed); }
// True while an armed fault has not been reached yet.
inline bool faultPending() { return detail::armedFault.load(std::memory_order_relaxed) != 0; }

// Called by the platform layer before each operation of its kind.
inline bool faultHit(Fault fault) {
    if (detail::armedFault.load(std::memory_order_relaxed) != static_cast<int>(fault)) return false;
    if (detail::faultCountdown.fetch_sub(1, std::memory_order_relaxed) != 1) return false;
    detail::armedFault.store(0, std::memory_order_relaxed);
    return true;
}

}  // namespace vellum::platform
