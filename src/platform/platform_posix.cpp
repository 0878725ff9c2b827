#include "platform/platform.h"

#include "platform/fault_seam.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellum::platform {

bool File::close() {
    if (handle_ == -1) return true;
    int fd = static_cast<int>(handle_);
    handle_ = -1;
    // An injected failure still closes the descriptor, as a failed close(2) does.
    bool injected = faultHit(Fault::close);
    return ::close(fd) == 0 && !injected;
}

static int fd(const File& file) { return static_cast<int>(file.native()); }

namespace {

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int f;
    do {
        f = ::open(path, flags, mode);
    } while (f == -1 && errno == EINTR);
    return f;
}

// Takes a descriptor opened with O_NONBLOCK, so that the open itself never waited
// (a FIFO without a writer or reader, a device): kept only when it is a regular
// file, and then made blocking again for its reads and writes.
File regularFileOnly(int f) {
    if (f == -1) return File();
    File file(f);
    struct stat st;
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) return File();
    int flags = ::fcntl(f, F_GETFL);
    if (flags == -1 || ::fcntl(f, F_SETFL, flags & ~O_NONBLOCK) == -1) return File();
    return file;
}

}  // namespace

File openForReading(const char* path) {
    if (faultHit(Fault::open)) return File();
    // A FIFO, a socket or a device could keep the open or the reads waiting for ever,
    // and a folder opens for reading on POSIX: only a regular file is read.
    return regularFileOnly(openRetrying(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

File createForWriting(const char* path) {
    if (faultHit(Fault::create)) return File();
    // Never written through a symbolic link at the target's name: the link goes and
    // a new file takes its place. O_EXCL then: should a link take the name again
    // meanwhile, the create fails rather than follow it.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int f = openRetrying(path, flags | O_TRUNC, 0666);
    if (f == -1 && errno == ELOOP && ::unlink(path) == 0) f = openRetrying(path, flags | O_EXCL, 0666);
    return regularFileOnly(f);
}

bool fileSize(const File& file, std::uint64_t& size) {
    if (faultHit(Fault::size)) return false;
    struct stat st;
    if (::fstat(fd(file), &st) != 0) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::optional<std::int64_t> modifiedTime(const File& file) {
    struct stat st;
    if (::fstat(fd(file), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool readSome(const File& file, void* buffer, std::uint32_t want, std::uint32_t& got) {
    got = 0;
    if (faultHit(Fault::read)) return false;
    ssize_t n;
    do {
        n = ::read(fd(file), buffer, want);
    } while (n == -1 && errno == EINTR);
    if (n < 0) return false;
    got = static_cast<std::uint32_t>(n);
    return true;
}

bool seekTo(const File& file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return ::lseek(fd(file), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool writeAll(const File& file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (faultHit(Fault::write)) return false;
        ssize_t n = ::write(fd(file), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool flushToDisk(const File& file) {
    if (faultHit(Fault::flush)) return false;
    return ::fsync(fd(file)) == 0;
}

bool removeFile(const char* path) {
    if (faultHit(Fault::remove)) return false;
    return ::unlink(path) == 0;
}

bool isReadOnly(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(path, W_OK) != 0;
}

char pathSeparator() { return '/'; }

// Double Commander on Linux reads FileTime as a Unix timestamp.
std::uint32_t hostFileTime(const UtcTime& time) {
    using namespace std::chrono;
    sys_days date = year(time.year) / time.month / time.day;
    seconds since = date.time_since_epoch() + hours(time.hour) + minutes(time.minute) + seconds(time.second);
    return static_cast<std::uint32_t>(since.count());
}

// Double Commander on Linux reads FileAttr as a Unix mode.
std::int32_t hostFileAttr(EntryKind, std::int32_t) {
    return static_cast<std::int32_t>(S_IFREG | 0644);
}

}  // namespace vellum::platform
