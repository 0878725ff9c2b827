// The system calls a book's save stands on: one implementation per platform
// (book_file_posix.cpp, book_file_win32.cpp), chosen by CMake. The save itself is
// written once over them, in book_file.cpp. Paths are UTF-8, as everywhere in this
// layer.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vellum::platform::system {

// The real book a save changes, as the system knows it when the save begins.
struct BookPlace {
    std::string path;    // symbolic links followed
    std::string folder;  // the folder new files for it are made in, as new names are joined to it
    std::uint64_t links = 0;  // the names the book has
    // What tells this file from any other: the device and file number (on Windows
    // the volume serial number and the file index).
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    // Owner, group and mode (POSIX; 0 on Windows, where the replacement itself
    // carries what the book has).
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint32_t mode = 0;
};

// The regular file at `path`, symbolic links followed; none when there is no such
// file or its real path cannot be had.
std::optional<BookPlace> findBook(const char* path);

// ---- One-step replacement ----

// Removes from `folder` the new book files that runs killed before their end left.
void removeLeftovers(const std::string& folder);

struct NewFile;
// Closes the file and removes its name, if it has one.
void discardNewFile(NewFile& file);

// A new file meant to take the book's place; discarded when it goes, unless it did.
struct NewFile {
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { discardNewFile(*this); }

    File file;
    std::string name;  // empty while the file is unnamed, and once it is the book
};

enum class NewFileResult {
    made,
    denied,  // the folder takes no new file from this user; the book itself may still be written
    failed,
};

// Makes a new file in `folder`: unnamed until it takes the book's place where the
// file system allows it (a killed run then leaves nothing), else under a short name
// of its own that removeLeftovers knows.
NewFileResult makeNewFile(const std::string& folder, NewFile& out);

// Gives the new file what the book has that the replacement does not carry itself:
// owner, group, ACL, extended attributes and mode on POSIX; nothing on Windows.
// False when the system refuses any of it (the new file cannot stand for the book).
bool carryOver(const BookPlace& book, const NewFile& file);

// Gives a written file the book's mode again where writing dropped its set-id bits
// (POSIX; nothing to do on Windows). False when it cannot.
bool keepMode(const BookPlace& book, const File& file);

// Ends the writing of a flushed new file: Windows closes it, since a file held open
// cannot take the book's place; POSIX keeps it open, its lock telling other runs
// that it is in use. False when it cannot.
bool finishNewFile(NewFile& file);

// Puts the new file in the book's place in one step, the book's name then naming
// it: on POSIX an unnamed file is given a name, renamed over the book and the
// folder flushed; on Windows ReplaceFileW, waiting out readers that hold the book a
// moment, moving over the book where ReplaceFileW cannot work and at once under
// Wine. On success the file's name is cleared; on false the book is as it was.
bool putInPlace(const BookPlace& book, NewFile& file);

// ---- Writing in place ----

// The book opened for reading and writing, and its size.
struct OpenedBook {
    File file;  // empty when the book cannot be opened or is no longer the file `book` names
    std::uint64_t size = 0;
};
OpenedBook openInPlace(const BookPlace& book);

// Reserves room for `newSize` bytes in a file of `oldSize` bytes where the file
// system can, without changing its size. False on a full disk or another failure.
bool reserve(const File& file, std::uint64_t oldSize, std::uint64_t newSize);
// Writes all `size` bytes at `offset`.
bool writeAt(const File& file, const void* data, std::size_t size, std::uint64_t offset);
// Cuts or extends the file to `size` bytes.
bool setEnd(const File& file, std::uint64_t size);
// Reads exactly `size` bytes at `offset`; false at a short read or an error.
bool readAt(const File& file, void* data, std::size_t size, std::uint64_t offset);

// ---- The journal of an in-place save ----

// The user's own folder for what outlives a run: `$XDG_STATE_HOME/vellum`, by
// default `~/.local/state/vellum` (POSIX), `%LOCALAPPDATA%\vellum` (Windows), whether
// it is there or not; empty when there is none. Given as BookPlace::folder is, so
// that inFolder joins a name to it.
std::string stateFolder();
// The same folder, made (private to the user) where it is missing; empty when it
// cannot be had.
std::string makeStateFolder();
// The path of `name` in `folder`.
std::string inFolder(const std::string& folder, const std::string& name);
// True when a file of that name is there: one look at the folder, never an open.
bool exists(const std::string& path);

// Makes the journal file `path` new, never through a link (a file left there under
// that name is removed first), and opens it for reading and writing. It holds the
// book's old bytes: on POSIX it takes the book's group and read and write bits
// where it can, so that those who may read the book may read it and no others, and
// else stays the user's own; on Windows it takes its folder's ACL, as any new file,
// and is hidden. Empty when it cannot be made.
File makeJournalFile(const std::string& path, const BookPlace& book);
// True when the journal opened as `file` may be played back into `book`: on POSIX a
// regular file, of this user, of root or of the book's owner, or of the book's group
// where that group may write the book, and writable by no one who may not write the
// book (anyone else could have put it there); on Windows any journal.
bool journalTrusted(const File& file, const BookPlace& book);
// Removes the file `path` and flushes `folder`, where it was; false when it stays.
bool removeJournalFile(const std::string& folder, const std::string& path);
// Makes the names in `folder` durable (POSIX; Windows has no such call, and the
// file's own flush commits NTFS's log, which holds its name).
void flushFolder(const std::string& folder);

}  // namespace vellum::platform::system
