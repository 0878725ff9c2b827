#include "platform/platform.h"

#include "platform/fault_seam.h"
#include "platform/text.h"

#include <cerrno>
#include <ctime>
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

bool fileExists(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0;
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

// Linux hosts hand over UTF-8: the host's 8-bit text is the library's own.
std::string toHostText(std::string_view utf8) { return std::string(utf8); }
std::string fromHostText(std::string_view hostText) { return std::string(hostText); }

// Simple case folding for the scripts that book ids are written in: Latin (ASCII,
// Latin-1), Greek and Cyrillic. Other characters compare as they are.
static std::uint32_t foldCase(std::uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

bool sameName(std::string_view x, std::string_view y) {
    std::size_t i = 0, j = 0;
    while (i < x.size() && j < y.size()) {
        if (foldCase(nextCodePoint(x, i)) != foldCase(nextCodePoint(y, j))) return false;
    }
    return i == x.size() && j == y.size();
}

UtcTime utcNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    UtcTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

// Double Commander on Linux reads FileTime as a Unix timestamp.
std::uint32_t hostFileTime(const UtcTime& time) {
    // Days from the civil date (proleptic Gregorian), after Howard Hinnant's algorithm.
    int y = time.year - (time.month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned mp = static_cast<unsigned>(time.month + (time.month > 2 ? -3 : 9));
    unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(time.day) - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = static_cast<long long>(era) * 146097 + static_cast<long long>(doe) - 719468;
    long long seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    return static_cast<std::uint32_t>(seconds);
}

// Double Commander on Linux reads FileAttr as a Unix mode.
std::int32_t hostFileAttr(bool /*isIndexFile*/, std::int32_t /*kept*/) {
    return static_cast<std::int32_t>(S_IFREG | 0644);
}

}  // namespace vellum::platform
