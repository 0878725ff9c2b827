#include "platform/book_file.h"

#include "platform/book_file_system.h"
#include "platform/fault_seam.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vellum::platform {

namespace {

int fd(const File& file) { return static_cast<int>(file.native()); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// ---- The lock ----

enum class Locking { locked, busy, unsupported };

Locking lockNow(int descriptor) {
    for (;;) {
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return Locking::locked;
        if (errno == EINTR) continue;
        // A file system without locks cannot keep writers apart; saving goes on
        // without one.
        return errno == EWOULDBLOCK ? Locking::busy : Locking::unsupported;
    }
}

}  // namespace

void BookLock::release() { handle_.close(); }

BookLock lockBook(const char* path, int waitMs) {
    using Clock = std::chrono::steady_clock;
    if (faultHit(Fault::lock)) return BookLock(File(), BookLock::State::busy);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        // O_NONBLOCK: a FIFO in the book's place must not hang the open.
        File book(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        struct stat locked;
        if (!book.isOpen() || ::fstat(fd(book), &locked) != 0 || !S_ISREG(locked.st_mode))
            return BookLock(File(), BookLock::State::cannotOpen);
        Locking locking = lockNow(fd(book));
        if (locking != Locking::busy) {
            // Another writer may have put a new file in the book's place while this one
            // waited on the old file; the lock counts only on the file the path names.
            struct stat named;
            if (locking == Locking::unsupported || (::stat(path, &named) == 0 && sameFile(named, locked)))
                return BookLock(std::move(book), BookLock::State::held);
            if (Clock::now() < deadline) continue;
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline) return BookLock(File(), BookLock::State::busy);
        book.close();
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

namespace system {

namespace {

// The names of a file's extended attributes (an ACL is one of them), from `list`
// (listxattr or flistxattr). False when they cannot be read.
template <typename List>
bool attributeNames(List list, std::vector<std::string>& names) {
    names.clear();
    for (;;) {
        ssize_t size = list(nullptr, 0);
        if (size < 0) return errno == ENOTSUP;  // a file system without them has none
        std::string buffer(static_cast<std::size_t>(size), '\0');
        size = list(buffer.data(), buffer.size());
        if (size < 0 && errno == ERANGE) continue;  // grown meanwhile
        if (size < 0) return false;
        for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
            std::string name(buffer.c_str() + at);
            at += name.size() + 1;
            if (!name.empty()) names.push_back(name);
        }
        return true;
    }
}

// One attribute's value, from `get` (getxattr or fgetxattr). False when it is absent
// or cannot be read.
template <typename Get>
bool attributeValue(Get get, std::string& value) {
    for (;;) {
        ssize_t size = get(nullptr, 0);
        if (size < 0) return false;
        value.assign(static_cast<std::size_t>(size), '\0');
        size = get(value.data(), value.size());
        if (size < 0 && errno == ERANGE) continue;
        if (size < 0) return false;
        value.resize(static_cast<std::size_t>(size));
        return true;
    }
}

// Gives the new file exactly the extended attributes of the book: those it lacks are
// set, those it got from its folder (an inherited default ACL) and the book lacks
// are removed.
bool copyAttributes(const std::string& book, int target) {
    std::vector<std::string> wanted, present;
    if (!attributeNames([&](char* b, std::size_t n) { return ::listxattr(book.c_str(), b, n); }, wanted) ||
        !attributeNames([&](char* b, std::size_t n) { return ::flistxattr(target, b, n); }, present))
        return false;
    for (const std::string& name : present)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
            ::fremovexattr(target, name.c_str()) != 0 && errno != ENODATA)
            return false;
    for (const std::string& name : wanted) {
        std::string value, current;
        if (!attributeValue([&](void* b, std::size_t n) { return ::getxattr(book.c_str(), name.c_str(), b, n); },
                            value))
            return false;
        if (attributeValue([&](void* b, std::size_t n) { return ::fgetxattr(target, name.c_str(), b, n); },
                           current) &&
            current == value)
            continue;
        if (::fsetxattr(target, name.c_str(), value.data(), value.size(), 0) != 0) return false;
    }
    return true;
}

constexpr char kTempPrefix[] = ".vellum-";

std::string tempName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, "%s%ld-%u.tmp", kTempPrefix, static_cast<long>(::getpid()),
                  counter.fetch_add(1));
    return inFolder(folder, name);
}

// The process that made a file named as a new book file, or 0 when the name is no
// such name. A name with more in front of the mark ("book.fb2.vellum-<pid>-<n>.tmp")
// counts too.
pid_t tempOwner(const char* name) {
    const char* mark = std::strstr(name, kTempPrefix);
    for (const char* next = mark; next != nullptr; next = std::strstr(next + 1, kTempPrefix)) mark = next;
    if (mark == nullptr) return 0;
    const char* p = mark + sizeof kTempPrefix - 1;
    char* end = nullptr;
    long pid = std::strtol(p, &end, 10);
    if (end == p || *end != '-' || pid <= 0 || pid > INT_MAX) return 0;
    p = end + 1;
    std::strtoul(p, &end, 10);
    if (end == p || std::strcmp(end, ".tmp") != 0) return 0;
    return static_cast<pid_t>(pid);
}

// Gives an unnamed new file a short name of its own in `folder`.
bool nameNewFile(const std::string& folder, NewFile& file) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd(file.file));
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Named before the link is made, so that the name is removed should anything fail.
        file.name = tempName(folder);
        // Through /proc for everyone; by the descriptor itself where /proc is missing
        // (that needs a privilege).
        const char* name = file.name.c_str();
        if (::linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ||
            (errno != EEXIST && ::linkat(fd(file.file), "", AT_FDCWD, name, AT_EMPTY_PATH) == 0))
            return true;
        int error = errno;
        file.name.clear();
        if (error != EEXIST) return false;
    }
    return false;
}

// A folder the user may not write to lets no new file be made there, though the
// book itself may be writable.
NewFileResult refused(int error) {
    return error == EACCES || error == EPERM ? NewFileResult::denied : NewFileResult::failed;
}

// What a file system that keeps no modes or owners answers for a change of them.
bool keepsNoModes(int error) { return error == ENOSYS || error == ENOTSUP || error == EPERM; }

}  // namespace

std::optional<BookPlace> findBook(const char* path) {
    char resolved[PATH_MAX];
    if (::realpath(path, resolved) == nullptr) return std::nullopt;
    BookPlace book;
    book.path = resolved;
    struct stat st;
    if (::stat(book.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::size_t cut = book.path.rfind('/');
    book.folder = cut == 0 ? "/" : book.path.substr(0, cut);
    book.links = st.st_nlink;
    book.device = st.st_dev;
    book.file = st.st_ino;
    book.owner = st.st_uid;
    book.group = st.st_gid;
    book.mode = st.st_mode & 07777;
    return book;
}

// ---- One-step replacement ----

// Removes the new book files that runs killed before their end left in `folder`: a
// name of ours whose process is gone and that no process holds locked (a process
// alive in another PID namespace still holds its lock).
void removeLeftovers(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        pid_t owner = tempOwner(entry->d_name);
        if (owner == 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
        std::string path = inFolder(folder, entry->d_name);
        File stray(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        bool unused = false;
        if (stray.isOpen() && ::fstat(fd(stray), &st) == 0 && S_ISREG(st.st_mode) &&
            ::flock(fd(stray), LOCK_EX | LOCK_NB) == 0)
            unused = true;
        if (unused) ::unlink(path.c_str());
    }
    ::closedir(listing);
}

void discardNewFile(NewFile& file) {
    file.file.close();
    if (!file.name.empty()) ::unlink(file.name.c_str());
    file.name.clear();
}

NewFileResult makeNewFile(const std::string& folder, NewFile& out) {
    if (!faultHit(Fault::unnamed)) {
        out.file = File(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        // Some kernels and file systems have no unnamed files.
        if (!out.file.isOpen() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return refused(errno);
    }
    for (int attempt = 0; !out.file.isOpen() && attempt < 100; ++attempt) {
        out.name = tempName(folder);
        out.file = File(::open(out.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.file.isOpen()) {
            out.name.clear();
            if (errno != EEXIST) return refused(errno);
        }
    }
    if (!out.file.isOpen()) return NewFileResult::failed;
    // Held until the file is closed, so that no other run takes it for a leftover.
    ::flock(fd(out.file), LOCK_EX | LOCK_NB);
    return NewFileResult::made;
}

// Owner and group first (a change of owner clears the set-id bits), then the
// attributes (an ACL among them), then the mode, which also sets the ACL's mask
// back to what the book has.
bool carryOver(const BookPlace& book, const NewFile& file) {
    int target = fd(file.file);
    struct stat now;
    if (::fstat(target, &now) != 0) return false;
    if ((now.st_uid != book.owner || now.st_gid != book.group) && ::fchown(target, book.owner, book.group) != 0)
        return false;
    if (!copyAttributes(book.path, target)) return false;
    // A file system that keeps no modes (FAT through FUSE answers ENOSYS) shows every
    // file alike: the new file stands for the book when it already shows its mode.
    if ((::fchmod(target, book.mode) != 0 && !keepsNoModes(errno)) || ::fstat(target, &now) != 0) return false;
    // Without the privilege, the system drops a set-group-id bit quietly.
    return now.st_uid == book.owner && now.st_gid == book.group && (now.st_mode & 07777) == book.mode;
}

bool keepMode(const BookPlace& book, const File& file) {
    struct stat now;
    if (::fstat(fd(file), &now) != 0) return false;
    return (now.st_mode & 07777) == book.mode || ::fchmod(fd(file), book.mode) == 0;
}

bool finishNewFile(NewFile&) { return true; }

bool putInPlace(const BookPlace& book, NewFile& file) {
    if ((file.name.empty() && !nameNewFile(book.folder, file)) || ::rename(file.name.c_str(), book.path.c_str()) != 0)
        return false;
    file.name.clear();
    // Makes the new name durable; the book is already replaced, so a failure here has
    // nothing left to undo.
    flushFolder(book.folder);
    return true;
}

// ---- Writing in place ----

OpenedBook openInPlace(const BookPlace& book) {
    OpenedBook opened;
    File file(::open(book.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    struct stat now;
    if (!file.isOpen() || ::fstat(fd(file), &now) != 0 || now.st_dev != book.device || now.st_ino != book.file)
        return opened;
    opened.file = std::move(file);
    opened.size = static_cast<std::uint64_t>(now.st_size);
    return opened;
}

bool reserve(const File& file, std::uint64_t, std::uint64_t newSize) {
    return ::fallocate(fd(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(newSize)) == 0 || errno == EOPNOTSUPP ||
           errno == ENOSYS;
}

namespace {

// Moves all `size` bytes at `offset` through `call` (pread or pwrite), a piece at a
// time; `fault` is the seam's name for the operation.
template <typename Byte, typename Call>
bool wholeAt(const File& file, Byte* p, std::size_t size, std::uint64_t offset, Fault fault, Call call) {
    auto at = static_cast<off_t>(offset);
    while (size > 0) {
        if (faultHit(fault)) return false;
        ssize_t n = call(fd(file), p, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return true;
}

}  // namespace

bool writeAt(const File& file, const void* data, std::size_t size, std::uint64_t offset) {
    return wholeAt(file, static_cast<const char*>(data), size, offset, Fault::write,
                   [](int f, const char* p, std::size_t n, off_t at) { return ::pwrite(f, p, n, at); });
}

bool setEnd(const File& file, std::uint64_t size) {
    int result;
    do {
        result = ::ftruncate(fd(file), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool readAt(const File& file, void* data, std::size_t size, std::uint64_t offset) {
    return wholeAt(file, static_cast<char*>(data), size, offset, Fault::read,
                   [](int f, char* p, std::size_t n, off_t at) { return ::pread(f, p, n, at); });
}

// ---- The journal of an in-place save ----

std::string stateFolder() {
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd* user = ::getpwuid(::geteuid());
            home = user != nullptr ? user->pw_dir : nullptr;
        }
        if (home == nullptr || home[0] != '/') return std::string();
        base = std::string(home) + "/.local/state";
    }
    return base + "/vellum";
}

std::string makeStateFolder() {
    std::string folder = stateFolder();
    if (folder.empty()) return folder;
    // Each missing level is made private to the user, as the state folder should be.
    for (std::size_t cut = folder.find('/', 1);; cut = folder.find('/', cut + 1)) {
        if (::mkdir(folder.substr(0, cut).c_str(), 0700) != 0 && errno != EEXIST) return std::string();
        if (cut == std::string::npos) break;
    }
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? folder : std::string();
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

File makeJournalFile(const std::string& path, const BookPlace& book) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return File();
    File journal(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st;
    if (!journal.isOpen() || ::fstat(fd(journal), &st) != 0) return File();
    // The journal holds the book's old bytes: only those who may read the book may
    // read it. Where the book's group cannot be given, the group gets nothing.
    mode_t mode = book.mode & 0666;
    if (st.st_gid != book.group && ::fchown(fd(journal), static_cast<uid_t>(-1), book.group) != 0) mode &= ~0070u;
    ::fchmod(fd(journal), mode);
    return journal;
}

bool journalTrusted(const File& file, const BookPlace& book) {
    struct stat st;
    if (::fstat(fd(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    bool groupWrites = st.st_gid == book.group && (book.mode & S_IWGRP) != 0;
    bool maker = st.st_uid == ::geteuid() || st.st_uid == 0 || st.st_uid == book.owner || groupWrites;
    return maker && ((st.st_mode & S_IWGRP) == 0 || groupWrites) &&
           ((st.st_mode & S_IWOTH) == 0 || (book.mode & S_IWOTH) != 0);
}

bool removeJournalFile(const std::string& folder, const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    flushFolder(folder);
    return true;
}

void flushFolder(const std::string& folder) {
    int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened == -1) return;
    ::fsync(opened);
    ::close(opened);
}

}  // namespace system

}  // namespace vellum::platform
