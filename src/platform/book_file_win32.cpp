#include "platform/book_file.h"

#include "platform/fault_seam.h"
#include "text/unicode.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace vellum::platform {

namespace {

HANDLE handleOf(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

// INVALID_HANDLE_VALUE is -1, so a failed CreateFileW gives an empty File.
File adopt(HANDLE handle) { return File(reinterpret_cast<std::intptr_t>(handle)); }

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

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

namespace {

// ---- The new file's names ----

std::u16string tempName(const std::u16string& folder) {
    static std::atomic<unsigned> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, "~vellum-%lx-%x.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                  counter.fetch_add(1));
    return folder + std::u16string(name, name + std::char_traits<char>::length(name));
}

bool processAlive(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;  // denied: it exists
    DWORD code = 0;
    bool alive = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

// Removes the new book files that runs killed before their end left in `folder`
// (ending in a separator): a name of ours whose process is gone. A file some process
// still holds open refuses the deletion.
void removeLeftovers(const std::u16string& folder) {
    std::u16string pattern = folder + u"~vellum-*.tmp";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        unsigned long pid = 0;
        unsigned counter = 0;
        char tail[8] = {};
        std::string name = text::utf8FromUtf16(reinterpret_cast<const char16_t*>(found.cFileName));
        if (std::sscanf(name.c_str(), "~vellum-%lx-%x%7s", &pid, &counter, tail) != 3 ||
            std::string(tail) != ".tmp" || pid == GetCurrentProcessId() || processAlive(pid))
            continue;
        DeleteFileW(wide(folder + reinterpret_cast<const char16_t*>(found.cFileName)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A new file under a short name of its own in `folder`; removed on destruction unless
// it took the book's place.
struct NewFile {
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { discard(); }

    void discard() {
        file.close();
        if (!name.empty()) DeleteFileW(wide(name));
        name.clear();
    }

    File file;
    std::u16string name;
};

// False with the last error set when no new file can be made.
bool createNewFile(const std::u16string& folder, NewFile& out) {
    if (faultHit(Fault::create)) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        out.name = tempName(folder);
        out.file = adopt(CreateFileW(wide(out.name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (out.file.isOpen()) return true;
        DWORD error = GetLastError();
        out.name.clear();
        SetLastError(error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
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

// The way the book was replaced before: the new file takes the book's plain
// attributes and its name. The book's ACL, streams and creation time are lost.
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

// ---- The two ways of saving ----

enum class Outcome { saved, failed, inPlace };

// A new file takes the book's place: ReplaceFileW carries the book's ACL, creation
// time, attributes and streams over to it.
Outcome replaceBook(const std::u16string& book, const std::u16string& folder, const BookProducer& produce) {
    removeLeftovers(folder);
    NewFile temp;
    if (!createNewFile(folder, temp)) {
        // A folder the user cannot write to still lets the book itself be written.
        return GetLastError() == ERROR_ACCESS_DENIED ? Outcome::inPlace : Outcome::failed;
    }
    if (faultHit(Fault::carry)) return Outcome::inPlace;
    BookWriter write = [&](const void* data, std::size_t size) { return writeAll(temp.file, data, size); };
    if (!produce(write) || !flushToDisk(temp.file) || !temp.file.close() || faultHit(Fault::rename))
        return Outcome::failed;
    // ReplaceFileW carries the ACL, creation time and streams; the plain attributes
    // go over first all the same. Wine's ReplaceFileW removes the book before it moves
    // the new file in, so that for a moment there is no book for a reader or the next
    // writer to open, and it carries nothing over: there the new file is moved over
    // the book at once.
    keepAttributes(temp.name, book);
    bool wine = underWine();
    // A reader that opened the book without sharing its deletion holds the
    // replacement off until it is done.
    for (int attempt = 0;; ++attempt) {
        if (wine ? moveOver(temp.name, book) : ReplaceFileW(wide(book), wide(temp.name), nullptr, 0, nullptr, nullptr)) {
            temp.name.clear();
            return Outcome::saved;
        }
        if (!passing(GetLastError()) || attempt == 100) break;
        Sleep(20);
    }
    // Where ReplaceFileW cannot work (some file systems and network shares), the new
    // file is moved over the book as before.
    if (wine || GetFileAttributesW(wide(temp.name)) == INVALID_FILE_ATTRIBUTES || !moveOver(temp.name, book))
        return Outcome::failed;
    temp.name.clear();
    return Outcome::saved;
}

bool setEnd(const File& file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(handleOf(file), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool writeAt(const File& file, const char* data, std::size_t size, std::uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handleOf(file), at, nullptr, FILE_BEGIN) && writeAll(file, data, size);
}


// The book itself is overwritten: the new content is complete in memory first, the
// space is reserved, and only then is the book written from its start.
bool overwriteBook(const std::u16string& book, const BY_HANDLE_FILE_INFORMATION& before,
                   const BookProducer& produce) {
    std::string content;
    if (!detail::collectContent(produce, content)) return false;

    File file = adopt(CreateFileW(wide(book), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION now;
    std::uint64_t oldSize = 0;
    if (!file.isOpen() || !GetFileInformationByHandle(handleOf(file), &now) || !sameFile(now, before) ||
        !fileSize(file, oldSize))
        return false;
    // The old content, to be written back should the book's writing fail halfway.
    std::string old;
    if (!detail::readWhole(file, static_cast<std::size_t>(oldSize), old)) return false;
    std::uint64_t newSize = content.size();

    // Reserving: the clusters for the new size where the book grows, and its new tail
    // written first, so a full disk is met before any byte of the book changes.
    if (newSize > oldSize) {
        FILE_ALLOCATION_INFO allocation{};
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(newSize);
        bool reserved = !faultHit(Fault::reserve) &&
                        (SetFileInformationByHandle(handleOf(file), FileAllocationInfo, &allocation, sizeof allocation) ||
                         GetLastError() != ERROR_DISK_FULL) &&
                        writeAt(file, content.data() + oldSize, content.size() - old.size(), oldSize);
        if (!reserved) {
            setEnd(file, oldSize);
            return false;
        }
    } else if (faultHit(Fault::reserve)) {
        return false;
    }
    if (!writeAt(file, content.data(), std::min(content.size(), old.size()), 0) ||
        (newSize < oldSize && !setEnd(file, newSize)) || !flushToDisk(file)) {
        if (writeAt(file, old.data(), old.size(), 0) && setEnd(file, oldSize)) FlushFileBuffers(handleOf(file));
        return false;
    }
    return true;
}

}  // namespace

bool saveBookFile(const char* path, const BookProducer& produce) {
    if (path == nullptr) return false;
    // The book a symbolic link names is the one saved; the link stays as it is.
    BY_HANDLE_FILE_INFORMATION info;
    std::u16string book = finalPath(text::utf16FromUtf8(path), info);
    if (book.empty()) return false;
    std::size_t cut = book.find_last_of(u"\\/");
    std::u16string folder = cut == std::u16string::npos ? std::u16string() : book.substr(0, cut + 1);

    // A new file cannot stand for one of several names of a book.
    if (info.nNumberOfLinks == 1) {
        Outcome outcome = replaceBook(book, folder, produce);
        if (outcome != Outcome::inPlace) return outcome == Outcome::saved;
    }
    return overwriteBook(book, info, produce);
}

}  // namespace vellum::platform
