#include "platform/book_file.h"

#include "platform/book_file_system.h"
#include "platform/fault_seam.h"
#include "text/unicode.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>

namespace vellum::platform {

namespace {

HANDLE handleOf(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

// INVALID_HANDLE_VALUE is -1, so a failed CreateFileW gives an empty File.
File adopt(HANDLE handle) { return File(reinterpret_cast<std::intptr_t>(handle)); }

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The book's real path, symbolic links followed; empty when the book cannot be
// opened. `info` receives what the file is.
std::u16string finalPath(const std::u16string& path, BY_HANDLE_FILE_INFORMATION& info) {
    File opened = adopt(CreateFileW(wide(path), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened.isOpen() || !GetFileInformationByHandle(handleOf(opened), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::u16string();
    DWORD length = GetFinalPathNameByHandleW(handleOf(opened), nullptr, 0, FILE_NAME_NORMALIZED);
    std::u16string final(length, u'\0');
    if (length == 0 || GetFinalPathNameByHandleW(handleOf(opened), reinterpret_cast<wchar_t*>(final.data()), length,
                                                 FILE_NAME_NORMALIZED) != length - 1)
        return path;
    final.resize(length - 1);
    return final;
}

}  // namespace

void BookLock::release() {
    if (handle_.isOpen() && state_ == State::held) ReleaseMutex(handleOf(handle_));
    handle_.close();
}

// Writers of one book meet at a mutex named after the book's real path, compared
// without regard to case: a lock on the book's own file would need a handle open on
// it, and a book with an open handle cannot be replaced. A run killed while it holds
// the mutex gives it up; the next writer takes it on.
BookLock lockBook(const char* path, int waitMs) {
    if (faultHit(Fault::lock)) return BookLock(File(), BookLock::State::busy);
    BY_HANDLE_FILE_INFORMATION info;
    std::u16string book = finalPath(text::utf16FromUtf8(path), info);
    if (book.empty()) return BookLock(File(), BookLock::State::cannotOpen);
    std::u16string upper(book.size(), u'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide(book), static_cast<int>(book.size()),
                     reinterpret_cast<wchar_t*>(upper.data()), static_cast<int>(upper.size())) == 0)
        upper = book;
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char16_t unit : upper) hash = (hash ^ unit) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "Local\\vellum-book-%016llx", static_cast<unsigned long long>(hash));
    HANDLE created = CreateMutexA(nullptr, FALSE, name);
    if (created == nullptr) return BookLock(File(), BookLock::State::busy);
    File mutex = adopt(created);
    DWORD waited = WaitForSingleObject(handleOf(mutex), static_cast<DWORD>(std::max(waitMs, 0)));
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return BookLock(File(), BookLock::State::busy);
    return BookLock(std::move(mutex), BookLock::State::held);
}

namespace system {

namespace {

// The name of a new file in `folder` (which ends in a separator), in UTF-16.
std::u16string tempName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, "~vellum-%lx-%x.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                  counter.fetch_add(1));
    return text::utf16FromUtf8(folder + name);
}

bool processAlive(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // denied: it exists
    DWORD code = 0;
    bool alive = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

// Gives the new file `source` the plain attributes of the book `target`.
bool keepAttributes(const std::u16string& source, const std::u16string& target) {
    DWORD attributes = GetFileAttributesW(wide(target));
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD kept = attributes & settable;
    return SetFileAttributesW(wide(source), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) != 0;
}

// Moves the new file over the book, giving it the book's plain attributes first. The
// book's ACL, streams and creation time are not carried.
bool moveOver(const std::u16string& source, const std::u16string& target) {
    return keepAttributes(source, target) &&
           MoveFileExW(wide(source), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Errors of a replacement that a reader holding the book open for a moment causes.
bool passing(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

std::optional<BookPlace> findBook(const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    std::u16string real = finalPath(text::utf16FromUtf8(path), info);
    if (real.empty()) return std::nullopt;
    BookPlace book;
    book.path = text::utf8FromUtf16(real);
    // A name that UTF-8 cannot hold (a lone surrogate) would name another file.
    if (text::utf16FromUtf8(book.path) != real) return std::nullopt;
    std::size_t cut = book.path.find_last_of("\\/");
    book.folder = cut == std::string::npos ? std::string() : book.path.substr(0, cut + 1);
    book.links = info.nNumberOfLinks;
    book.device = info.dwVolumeSerialNumber;
    book.file = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return book;
}

// ---- One-step replacement ----

// Removes the new book files that runs killed before their end left in `folder`: a
// name of ours whose process is gone. A file some process still holds open refuses
// the deletion.
void removeLeftovers(const std::string& folder) {
    std::u16string where = text::utf16FromUtf8(folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(where + u"~vellum-*.tmp"), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        unsigned long pid = 0;
        unsigned counter = 0;
        char tail[8] = {};
        std::string name = text::utf8FromUtf16(reinterpret_cast<const char16_t*>(found.cFileName));
        if (std::sscanf(name.c_str(), "~vellum-%lx-%x%7s", &pid, &counter, tail) != 3 ||
            std::string(tail) != ".tmp" || pid == GetCurrentProcessId() || processAlive(pid))
            continue;
        DeleteFileW(wide(where + reinterpret_cast<const char16_t*>(found.cFileName)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void discardNewFile(NewFile& file) {
    file.file.close();
    if (!file.name.empty()) DeleteFileW(wide(text::utf16FromUtf8(file.name)));
    file.name.clear();
}

// The new file has a short name of its own from the start.
NewFileResult makeNewFile(const std::string& folder, NewFile& out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::u16string name = tempName(folder);
        out.file = adopt(CreateFileW(wide(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (out.file.isOpen()) {
            out.name = text::utf8FromUtf16(name);
            return NewFileResult::made;
        }
        DWORD error = GetLastError();
        // A folder the user may not write to lets no new file be made there, though
        // the book itself may be writable.
        if (error == ERROR_ACCESS_DENIED) return NewFileResult::denied;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return NewFileResult::failed;
    }
    return NewFileResult::failed;
}

// ReplaceFileW carries the book's ACL, creation time, attributes and streams.
bool carryOver(const BookPlace&, const NewFile&) { return true; }

bool keepMode(const BookPlace&, const File&) { return true; }

bool finishNewFile(NewFile& file) { return file.file.close(); }

bool putInPlace(const BookPlace& place, NewFile& file) {
    const std::u16string book = text::utf16FromUtf8(place.path);
    const std::u16string temp = text::utf16FromUtf8(file.name);
    // ReplaceFileW carries the ACL, creation time and streams; the plain attributes
    // go over first all the same. Wine's ReplaceFileW removes the book before it moves
    // the new file in, so that for a moment there is no book for a reader or the next
    // writer to open, and it carries nothing over: there the new file is moved over
    // the book at once.
    keepAttributes(temp, book);
    bool wine = underWine();
    // A reader that opened the book without sharing its deletion holds the
    // replacement off until it is done.
    for (int attempt = 0;; ++attempt) {
        if (wine ? moveOver(temp, book) : ReplaceFileW(wide(book), wide(temp), nullptr, 0, nullptr, nullptr)) {
            file.name.clear();
            return true;
        }
        if (!passing(GetLastError()) || attempt == 100) break;
        Sleep(20);
    }
    // Where ReplaceFileW cannot work (some file systems and network shares), the new
    // file is moved over the book.
    if (wine || GetFileAttributesW(wide(temp)) == INVALID_FILE_ATTRIBUTES || !moveOver(temp, book)) return false;
    file.name.clear();
    return true;
}

// ---- Writing in place ----

OpenedBook openInPlace(const BookPlace& book) {
    OpenedBook opened;
    File file = adopt(CreateFileW(wide(text::utf16FromUtf8(book.path)), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION now;
    std::uint64_t size = 0;
    if (!file.isOpen() || !GetFileInformationByHandle(handleOf(file), &now) ||
        now.dwVolumeSerialNumber != book.device ||
        (static_cast<std::uint64_t>(now.nFileIndexHigh) << 32 | now.nFileIndexLow) != book.file ||
        !fileSize(file, size))
        return opened;
    opened.file = std::move(file);
    opened.size = size;
    return opened;
}

// The clusters for the new size where the book grows.
bool reserve(const File& file, std::uint64_t oldSize, std::uint64_t newSize) {
    if (newSize <= oldSize) return true;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(newSize);
    return SetFileInformationByHandle(handleOf(file), FileAllocationInfo, &allocation, sizeof allocation) ||
           GetLastError() != ERROR_DISK_FULL;
}

bool writeAt(const File& file, const void* data, std::size_t size, std::uint64_t offset) {
    return seekTo(file, offset) && writeAll(file, data, size);
}

bool setEnd(const File& file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(handleOf(file), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool readAt(const File& file, void* data, std::size_t size, std::uint64_t offset) {
    return seekTo(file, offset) && readFully(file, data, size);
}

// ---- The journal of an in-place save ----

std::string stateFolder() {
    wchar_t base[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return text::utf8FromUtf16(reinterpret_cast<const char16_t*>(base)) + "\\vellum\\";
}

std::string makeStateFolder() {
    std::string folder = stateFolder();
    if (folder.empty()) return folder;
    std::u16string name = text::utf16FromUtf8(folder);
    name.pop_back();  // the separator after it
    if (!CreateDirectoryW(wide(name), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    DWORD attributes = GetFileAttributesW(wide(name));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::string();
    return folder;
}

std::string inFolder(const std::string& folder, const std::string& name) { return folder + name; }

bool exists(const std::string& path) {
    return GetFileAttributesW(wide(text::utf16FromUtf8(path))) != INVALID_FILE_ATTRIBUTES;
}

File makeJournalFile(const std::string& path, const BookPlace&) {
    std::u16string name = text::utf16FromUtf8(path);
    if (!DeleteFileW(wide(name)) && GetLastError() != ERROR_FILE_NOT_FOUND) return File();
    return adopt(CreateFileW(wide(name), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr));
}

bool journalTrusted(const File&, const BookPlace&) { return true; }

bool removeJournalFile(const std::string&, const std::string& path) {
    return DeleteFileW(wide(text::utf16FromUtf8(path))) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void flushFolder(const std::string&) {}

}  // namespace system

}  // namespace vellum::platform
