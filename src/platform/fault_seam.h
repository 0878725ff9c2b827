// A test seam for the platform layer: a test arms one kind of operation to fail on
// its n-th next call, so every failure path of the core can be driven on purpose.
// Disarmed (the default), the check costs one relaxed atomic load.
#pragma once

#include <atomic>

namespace vellum::platform {

// `close` is the closing of a file the core checks (a written file); `size` is
// asking an open file for its size. A book's save also meets: `lock`, taking the
// writer lock (as if another writer kept it); `reserve`, reserving the space for
// writing a book in place; `carry`, carrying the book's owner, mode and
// attributes over to a new file (as if the system refused, so the book is written
// in place); `unnamed`, creating an unnamed new file (as if the file system had
// none, so the new file gets a name); `rename`, the step that puts the new file in
// the book's place; `create` also meets the making of a journal beside the book (as
// if the folder refused it, so the journal goes to the user's state folder). `halt`
// is no failure but a run that stops dead, as a killed one does, leaving what it
// wrote: an in-place save meets it after its journal is flushed, halfway through the
// overwrite, after the book is cut to length, and before the journal is removed.
enum class Fault {
    none, open, create, read, write, flush, remove, rename, close, size, lock, reserve, carry, unnamed, halt
};

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
