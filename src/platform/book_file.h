// A book's own file: one writer at a time, and saves that put the new content into
// the file the user has (through symbolic links, keeping hard links, owner, mode,
// ACL and extended attributes). The lock is the platform's own (book_file_posix.cpp,
// book_file_win32.cpp, chosen by CMake); the save is written once (book_file.cpp)
// over the system calls of book_file_system.h.
#pragma once

#include "platform/book_writer.h"
#include "platform/platform.h"

#include <functional>
#include <utility>

namespace vellum::platform {

// Writes a whole new book through the writer it is given, in order; false when it
// could not. A save may call it at most once.
using BookProducer = std::function<bool(const BookWriter& write)>;

// How long a writer waits for another one to finish with the same book.
constexpr int kBookLockWaitMs = 30000;

// The exclusive writer lock on one book, held from lockBook until it is released or
// destroyed. It binds only writers that take it: readers are never blocked. On Linux
// it is a lock on the book's file; on Windows, where any handle open on the book
// would stop the book being replaced, a mutex named after the book's path, owned by
// the thread that took it, which must also release it.
class BookLock {
public:
    // held; cannotOpen: the book is missing or cannot be read; busy: another writer
    // kept it past the wait.
    enum class State { held, cannotOpen, busy };

    BookLock() = default;
    BookLock(File handle, State state) : handle_(std::move(handle)), state_(state) {}
    BookLock(BookLock&&) = default;
    BookLock& operator=(BookLock&&) = delete;
    ~BookLock() { release(); }

    bool held() const { return state_ == State::held; }
    State state() const { return state_; }
    void release();

private:
    File handle_;  // what holds the lock: the book opened, or the mutex
    State state_ = State::cannotOpen;
};

// Takes the writer lock of the book at `path` (symbolic links followed), waiting at
// most `waitMs` milliseconds for another writer. A book replaced by another writer
// while this one waited is locked under its new identity.
BookLock lockBook(const char* path, int waitMs = kBookLockWaitMs);

// Puts the content `produce` writes into the book at `path`. Symbolic links lead to
// the real book, which is the one changed. Where a new file can stand for the book
// exactly (one link; owner, group, mode, ACL and attributes carried over, or shown
// already where the file system keeps none), the content goes into a new file that
// replaces the book in one step; otherwise the book is overwritten in place, from
// the first byte that changes, once the whole content is at hand in memory, under a
// rollback journal (book_journal.h) and with the space reserved. True when the book
// holds the new content and it is on disk. On false the book is byte for byte as it
// was (in place, the journal puts the old bytes back), or, where no journal could be
// made, not written at all. The caller holds the lock.
//
// Where the book is read: a packing run that splices the book opens it four times,
// one after another: for its writer lock (lockBook; on Windows only to find its real
// path), to load the document, and to scan its bytes and then copy them around the
// changes (both in spliceBook, which `produce` calls). Written in place, the book is
// opened once more, read up to its first changed byte and from there into the
// journal, and overwritten; on Windows the save also opens it first, without
// reading, to find its real path. A book whose size changed between the scan and
// the copy is not spliced.
bool saveBookFile(const char* path, const BookProducer& produce);

// Makes sure the book at `path` is whole before it is read: the journal that an
// in-place save killed before its end left (beside the book, or in this user's state
// folder) is played back under the writer lock, or removed where it is incomplete,
// damaged, or no longer fits the book (another file, another length, changed bytes
// before the save's first change). Where no journal is found it costs a few looks
// at the file system (the book's real path and identity, the two places a journal
// may be). False when the book is in doubt: a journal this user cannot
// read, a half-written book this user cannot write back, another writer holding the
// book past the wait. True also when there is no such book.
bool settleBook(const char* path);

}  // namespace vellum::platform
