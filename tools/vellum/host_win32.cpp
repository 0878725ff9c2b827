// The host on Windows, as Total Commander is: the plug-in is a DLL called on a
// thread with COM initialised, names are in the ANSI code page, FileTime is the
// MS-DOS packed date and time.
#include "host.h"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <objbase.h>

namespace vellum::host {

namespace {

std::string messageOf(DWORD code) {
    char buffer[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
        --n;
    if (n == 0) return "system error " + std::to_string(code);
    return std::string(buffer, n);
}

}  // namespace

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Library::~Library() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

Library Library::load(const std::string& path, std::string& error) {
    // A full path, so the module is never searched for along the DLL search path.
    Library library;
    std::string file = absolutePath(path);
    library.handle_ = LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library.handle_ == nullptr) error = messageOf(GetLastError());
    return library;
}

void* Library::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

HostThread::HostThread() : status_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

HostThread::~HostThread() {
    if (SUCCEEDED(status_)) CoUninitialize();
}

bool HostThread::ready(std::string& error) const {
    if (SUCCEEDED(status_)) return true;
    error = "COM cannot be initialised: " + messageOf(static_cast<DWORD>(status_));
    return false;
}

void prepareProcess() {}

std::string executableFolder() {
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return ".\\";
    std::string exe(buffer, n);
    std::size_t slash = exe.find_last_of("\\/");
    return slash == std::string::npos ? ".\\" : exe.substr(0, slash + 1);
}

char separator() { return '\\'; }
bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string absolutePath(const std::string& path) {
    DWORD n = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::string full(n, '\0');
    n = GetFullPathNameA(path.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return full;
}

PathKind pathKind(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::file;
}

bool nameExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

namespace {

// The volume and index that tell a file apart from every other, or false.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool isReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool canRead(const std::string& path, std::string& error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = messageOf(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool makeFolders(const std::string& path, std::string& error) {
    std::string full = absolutePath(path);
    // Skip the root ("C:\" or "\\server\share\"), which cannot be created.
    std::size_t start = 0;
    if (full.size() >= 2 && full[1] == ':') {
        start = 3;
    } else if (full.rfind("\\\\", 0) == 0) {
        start = full.find('\\', 2);
        start = start == std::string::npos ? full.size() : full.find('\\', start + 1);
        start = start == std::string::npos ? full.size() : start + 1;
    }
    while (start <= full.size()) {
        std::size_t end = full.find_first_of("\\/", start);
        if (end == std::string::npos) end = full.size();
        std::string partial = full.substr(0, end);
        if (end > start && !CreateDirectoryA(partial.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = messageOf(GetLastError());
            return false;
        }
        start = end + 1;
    }
    if (pathKind(full) != PathKind::folder) {
        error = "not a folder";
        return false;
    }
    return true;
}

std::string makeTempFile(std::string& error) {
    char folder[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH) {
        error = "cannot find the temporary folder: " + messageOf(GetLastError());
        return std::string();
    }
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(folder, "vel", 0, name) == 0) {
        error = std::string("cannot create a temporary file in ") + folder + ": " + messageOf(GetLastError()) +
                " (the TMP variable names that folder)";
        return std::string();
    }
    return name;
}

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::string lastError() { return messageOf(GetLastError()); }

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int terminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

void setBinaryStdout() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

DateTime decodeFileTime(std::int32_t fileTime) {
    auto v = static_cast<std::uint32_t>(fileTime);
    return DateTime{static_cast<int>((v >> 25) & 0x7F) + 1980, static_cast<int>((v >> 21) & 0x0F),
                    static_cast<int>((v >> 16) & 0x1F),        static_cast<int>((v >> 11) & 0x1F),
                    static_cast<int>((v >> 5) & 0x3F),         static_cast<int>(v & 0x1F) * 2};
}

bool sameName(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string toUtf8(const std::string& text) {
    if (text.empty()) return text;
    int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return text;
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return text;
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

std::string systemFileName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (std::strchr("<>:\"|?*", c) != nullptr) c = '_';
    // Windows drops trailing dots and spaces from a name, which would merge names.
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.back() = '_';
    // Device names (CON, NUL, COM1, ...) name no file, with or without an extension.
    std::string stem = out.substr(0, out.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    static const char* const devices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                          "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                          "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (lstrcmpiA(stem.c_str(), device) == 0) return "_" + out;
    return out;
}

}  // namespace vellum::host
