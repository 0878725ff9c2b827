// The platform layer: files, the UTC clock, and the few host conventions that differ
// between Total Commander on Windows and Double Commander on Linux. One implementation
// per platform (platform_win32.cpp, platform_posix.cpp), chosen by CMake; the clock
// is the same on both (clock.cpp).
//
// Every path and name given to or taken from this layer is UTF-8, the text of the
// whole library; the Windows implementation turns paths into UTF-16 at the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vellum::platform {

// An open file. Owns the native handle (a Win32 HANDLE or a file descriptor, -1 when
// empty) and closes it once, on destruction or on close().
class File {
public:
    File() = default;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = -1;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { close(); }

    bool isOpen() const { return handle_ != -1; }
    std::intptr_t native() const { return handle_; }
    // Closes the handle; false when the system reported an error (data may be lost).
    bool close();

private:
    std::intptr_t handle_ = -1;
};

// Opens an existing regular file for reading, shared for reading only. Empty File
// on failure, and at once for anything else (a folder, a FIFO, a device): the open
// never waits.
File openForReading(const char* path);
// Creates or truncates a regular file for writing, shared for reading. A symbolic
// link (a reparse point on Windows) at `path` is replaced by the new file, never
// written through. Empty File on failure, and for a name that is not a regular file.
File createForWriting(const char* path);

// The size of an open file in bytes; false when it cannot be had.
bool fileSize(const File& file, std::uint64_t& size);
// When an open file's content last changed, in the platform's own units
// (nanoseconds since 1970 on POSIX, 100 ns since 1601 on Windows); none when it
// cannot be had. Only ever compared with another value of the same file.
std::optional<std::int64_t> modifiedTime(const File& file);
// Reads up to `want` bytes; `got` receives the count (0 at the end of the file).
bool readSome(const File& file, void* buffer, std::uint32_t want, std::uint32_t& got);
// Reads exactly `size` bytes into `data`; false when a read fails or the file ends
// first (a file that shrank ends the loop as a failed read rather than repeating it).
inline bool readFully(const File& file, void* data, std::size_t size) {
    for (char* p = static_cast<char*>(data); size > 0;) {
        std::uint32_t got = 0;
        const auto want = static_cast<std::uint32_t>(size < (1u << 30) ? size : (1u << 30));
        if (!readSome(file, p, want, got) || got == 0) return false;
        p += got;
        size -= got;
    }
    return true;
}
// Moves where the next read starts to `offset` bytes from the start of the file.
bool seekTo(const File& file, std::uint64_t offset);
// Writes all `size` bytes or reports failure (a full disk, an I/O error).
bool writeAll(const File& file, const void* data, std::size_t size);
// Makes what was written durable (fsync / FlushFileBuffers).
bool flushToDisk(const File& file);

bool removeFile(const char* path);
// True when the file exists and must not be written: no write permission for
// anyone (checked explicitly, since root may write such a file anyway), or the
// read-only attribute on Windows.
bool isReadOnly(const char* path);
// The character that joins a folder and a name in a path the host hands over.
char pathSeparator();

// A moment in UTC, as the system clock gives it.
struct UtcTime {
    int year = 0;
    int month = 0;   // 1 to 12
    int day = 0;     // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};
UtcTime utcNow();

// The entry date the host expects in tHeaderData::FileTime: the MS-DOS packed
// date and time on Windows, a Unix timestamp on Linux.
std::uint32_t hostFileTime(const UtcTime& time);
// What a listed entry is: one of the book's binary elements, or the generated index.
enum class EntryKind { binary, index };
// The FileAttr the host expects for an entry; `kept` is what the host put there.
std::int32_t hostFileAttr(EntryKind kind, std::int32_t kept);

}  // namespace vellum::platform
