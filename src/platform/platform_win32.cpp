#include "platform/platform.h"

#include "platform/fault_seam.h"
#include "text/unicode.h"

#include <windows.h>

#include <algorithm>

namespace vellum::platform {

namespace {

HANDLE handleOf(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

// INVALID_HANDLE_VALUE is -1, so a failed CreateFileA gives an empty File.
File adopt(HANDLE handle) { return File(reinterpret_cast<std::intptr_t>(handle)); }

// The largest piece one call of WriteFile takes.
constexpr std::size_t kMaxPiece = 1u << 30;

LPCWSTR w(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

bool isSlash(char16_t c) { return c == u'\\' || c == u'/'; }

// A drive path ("C:\...") or a network path ("\\server\share\..."), without the
// "\\?\" or "\\.\" prefix.
bool isPlainAbsolute(const std::u16string& path) {
    if (path.size() >= 3 && path[1] == u':' && isSlash(path[2])) return true;
    return path.size() >= 3 && isSlash(path[0]) && isSlash(path[1]) && path[2] != u'?' && path[2] != u'.';
}

// A UTF-8 path as the wide-character calls of Windows take it. An absolute path too
// long for the plain calls (which stop at MAX_PATH, and at 248 characters for a
// folder) gets the "\\?\" prefix, which lifts the limit; the system does not
// clean such a path up, so it is made full (no "." or "..", backslashes only) first.
std::u16string wide(const char* path) {
    std::u16string units = text::utf16FromUtf8(path);
    if (units.size() < MAX_PATH - 12 || !isPlainAbsolute(units)) return units;
    DWORD size = GetFullPathNameW(w(units), 0, nullptr, nullptr);
    if (size == 0) return units;
    std::u16string full(size, u'\0');
    DWORD n = GetFullPathNameW(w(units), size, reinterpret_cast<LPWSTR>(full.data()), nullptr);
    if (n == 0 || n >= size) return units;
    full.resize(n);
    if (full.size() >= 2 && full[0] == u'\\' && full[1] == u'\\') return u"\\\\?\\UNC" + full.substr(1);
    return u"\\\\?\\" + full;
}

}  // namespace

bool File::close() {
    if (handle_ == -1) return true;
    HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    // An injected failure still closes the handle, as a failed CloseHandle does.
    bool injected = faultHit(Fault::close);
    return CloseHandle(handle) != 0 && !injected;
}

// Keeps an opened handle only when it is a file on a disk: a pipe, a console or
// another device could keep a read waiting for ever.
static File diskFileOnly(HANDLE handle) {
    File file = adopt(handle);
    if (file.isOpen() && GetFileType(handle) != FILE_TYPE_DISK) return File();
    return file;
}

File openForReading(const char* path) {
    if (faultHit(Fault::open)) return File();
    return diskFileOnly(CreateFileW(w(wide(path)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

File createForWriting(const char* path) {
    if (faultHit(Fault::create)) return File();
    std::u16string name = wide(path);
    // A reparse point at the target's name (a symbolic link) is deleted, never
    // written through, and a new file takes its place; CREATE_NEW then, so that a
    // link made again meanwhile makes the create fail rather than be followed.
    DWORD disposition = CREATE_ALWAYS;
    DWORD attributes = GetFileAttributesW(w(name));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!DeleteFileW(w(name))) return File();
        disposition = CREATE_NEW;
    }
    return diskFileOnly(
        CreateFileW(w(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool fileSize(const File& file, std::uint64_t& size) {
    if (faultHit(Fault::size)) return false;
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handleOf(file), &value) || value.QuadPart < 0) return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

std::optional<std::int64_t> modifiedTime(const File& file) {
    FILETIME written;
    if (!GetFileTime(handleOf(file), nullptr, nullptr, &written)) return std::nullopt;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
}

bool readSome(const File& file, void* buffer, std::uint32_t want, std::uint32_t& got) {
    got = 0;
    if (faultHit(Fault::read)) return false;
    DWORD read = 0;
    if (!ReadFile(handleOf(file), buffer, want, &read, nullptr)) return false;
    got = read;
    return true;
}

bool seekTo(const File& file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handleOf(file), at, nullptr, FILE_BEGIN) != 0;
}

bool writeAll(const File& file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (faultHit(Fault::write)) return false;
        DWORD written = 0;
        DWORD piece = static_cast<DWORD>(std::min(size, kMaxPiece));
        if (!WriteFile(handleOf(file), p, piece, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

bool flushToDisk(const File& file) {
    if (faultHit(Fault::flush)) return false;
    return FlushFileBuffers(handleOf(file)) != 0;
}

bool removeFile(const char* path) {
    if (faultHit(Fault::remove)) return false;
    return DeleteFileW(w(wide(path))) != 0;
}

bool isReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesW(w(wide(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

char pathSeparator() { return '\\'; }

// Total Commander reads FileTime as an MS-DOS date and time. The UTC time goes in as
// it is, without conversion to local time.
std::uint32_t hostFileTime(const UtcTime& time) {
    auto field = [](int value, unsigned bits) { return static_cast<std::uint32_t>(value) & ((1u << bits) - 1); };
    return field(time.year - 1980, 7) << 25 | field(time.month, 4) << 21 | field(time.day, 5) << 16 |
           field(time.hour, 5) << 11 | field(time.minute, 6) << 5 | field(time.second / 2, 5);
}

// Total Commander's FileAttr: no attribute for an element; the index file keeps
// whatever the host's record held.
std::int32_t hostFileAttr(EntryKind kind, std::int32_t kept) { return kind == EntryKind::index ? kept : 0; }

}  // namespace vellum::platform
