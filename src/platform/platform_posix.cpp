#include "platform/platform.h"

#include "platform/fault_seam.h"

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

File openForReading(const char* path) {
    if (faultHit(Fault::open)) return File();
    int f;
    do {
        f = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (f == -1 && errno == EINTR);
    if (f == -1) return File();
    struct stat st;
    // A folder opens for reading on POSIX; the callers want a file.
    if (::fstat(f, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(f);
        return File();
    }
    return File(f);
}

File createForWriting(const char* path) {
    if (faultHit(Fault::create)) return File();
    int f;
    do {
        f = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (f == -1 && errno == EINTR);
    return f == -1 ? File() : File(f);
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

// Linux hosts hand over UTF-8, so the "ANSI" side is UTF-8. Lone surrogates cannot
// be written and become a space, as unrepresentable characters do on Windows.
std::string toAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back(' ');
            continue;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Decodes one UTF-8 sequence at text[i]; malformed input yields U+FFFD and moves on
// by one byte, as the Windows conversion does without its strict flag.
static std::uint32_t nextCodePoint(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    int extra;
    std::uint32_t c;
    std::uint32_t least;
    if (b < 0x80) {
        ++i;
        return b;
    } else if (b >= 0xC2 && b <= 0xDF) {
        extra = 1, c = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2, c = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3, c = b & 0x07, least = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        unsigned char t = byte(i + k);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (t & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return c;
}

std::u16string fromAnsi(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t c = nextCodePoint(text, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

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

bool equalIgnoringCase(const char* a, const char* b) {
    std::string_view x(a), y(b);
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
