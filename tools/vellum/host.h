// What the command-line host needs from the system it runs on: loading the plug-in
// module, preparing the calling thread, files and folders, the terminal, and the
// host conventions that differ between platforms (entry dates, file names the
// system accepts; text and name comparison are the text layer's). One implementation per platform, chosen by CMake
// (host_posix.cpp, host_win32.cpp). Every path, name and message is UTF-8 here; the
// Windows implementation turns paths into UTF-16 at each system call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::host {

// A loaded plug-in module, unloaded on destruction.
class Library {
public:
    Library() = default;
    Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();

    // Loads the module at `path` (never searched for along the system's library
    // path). On failure the Library is empty and `error` says why.
    static Library load(const std::string& path, std::string& error);
    // The address of an exported function, null when the module lacks it.
    void* symbol(const char* name) const;
    explicit operator bool() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

// Prepares the calling thread as a file manager does before it calls a plug-in
// (COM on Windows) and undoes it on destruction.
class HostThread {
public:
    HostThread();
    ~HostThread();
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;
    // Why the thread could not be prepared, or nothing when it is ready.
    std::optional<std::string> failure() const;

private:
    long status_ = 0;
};

// Process-wide settings made once at start (a closed pipe is reported as a write
// error rather than ending the process).
void prepareProcess();
// The command's arguments (without the program's name) in UTF-8: on Windows read
// from the wide command line, so that no name passes through the code page.
std::vector<std::string> arguments(int argc, char** argv);

// The folder of the running executable, ending with a separator.
std::string executableFolder();

// The separator the host puts between a folder and a name, and whether `c` may
// separate path components on this system.
char separator();
bool isSeparator(char c);
// `path` made absolute against the current folder, without resolving links.
std::string absolutePath(const std::string& path);

enum class PathKind { missing, file, folder, other };
// What `path` names, links followed: a FIFO or a device is `other`.
PathKind pathKind(const std::string& path);
// True when anything at all has the name `path`, a link to nothing included.
bool nameExists(const std::string& path);
// True when `a` and `b` name the same existing file, through whatever paths and
// links (the same device and inode; on Windows the same volume and file index).
bool sameFile(const std::string& a, const std::string& b);
// True when the file exists but has no write permission (also for root) or carries
// the read-only attribute.
bool isReadOnly(const std::string& path);
// Why the file cannot be opened for reading (the open never waits, even on a FIFO),
// or nothing when it can.
std::optional<std::string> unreadable(const std::string& path);
// The size of a file in bytes, 0 when it cannot be had.
std::uint64_t fileSize(const std::string& path);
// Creates `path` and any missing parent folders; why that failed, or nothing.
std::optional<std::string> makeFolders(const std::string& path);
// Opens a file with the C library (fopen's modes). Null on failure, with errno set.
std::FILE* openFile(const std::string& path, const char* mode);
// Creates a new empty file with a unique name in the system's temporary folder and
// returns its path; empty on failure, with `error` saying which folder was tried,
// why it failed, and what names that folder.
std::string makeTempFile(std::string& error);
bool removeFile(const std::string& path);
// The system's message for the last failed call of this thread.
std::string lastError();

// Standard error is a terminal (where a progress bar can be drawn), and its width.
bool stderrIsTerminal();
int terminalWidth();
// Standard output carries bytes unchanged (no line-end translation).
void setBinaryStdout();
// Writes UTF-8 text to standard output or error: on a Windows console as characters
// (WriteConsoleW), which any console shows whatever its code page; elsewhere as the
// UTF-8 bytes. False when it cannot be written.
bool writeText(std::FILE* stream, std::string_view utf8);

// A moment as a file manager shows it for an entry.
struct DateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Decodes tHeaderData::FileTime: a Unix timestamp shown in local time on Linux, the
// MS-DOS packed date and time on Windows.
DateTime decodeFileTime(std::int32_t fileTime);

// Makes a single file name acceptable to this system's file names, after the common
// rules have removed separators: on Windows the reserved characters, device names
// and trailing dots and spaces; nothing on Linux.
std::string systemFileName(const std::string& name);

}  // namespace vellum::host
