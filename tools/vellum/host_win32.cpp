// The host on Windows, as Total Commander is: the plug-in is a DLL called on a
// thread with COM initialised, FileTime is the MS-DOS packed date and time. The
// command works in UTF-8 and meets the system through its wide-character calls.
#include "host.h"

#include "text/system_text.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace vellum::host {

namespace {

// UTF-8 as the wide-character calls take it, and back.
std::wstring wide(const std::string& utf8) {
    std::u16string units = text::utf16FromUtf8(utf8);
    return std::wstring(units.begin(), units.end());
}
std::string narrow(const wchar_t* units, std::size_t size) {
    return text::utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(units), size));
}
std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }

std::string messageOf(DWORD code) {
    wchar_t buffer[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer / sizeof buffer[0], nullptr);
    while (n > 0 && std::wcschr(L"\r\n .", buffer[n - 1]) != nullptr) --n;
    if (n == 0) return "system error " + std::to_string(code);
    return narrow(buffer, n);
}

// A system call that fills a buffer of wide characters and answers the length, or
// the size it needs when the buffer is too small.
template <typename Call>
std::wstring filled(Call call) {
    std::wstring text(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD n = call(text.data(), static_cast<DWORD>(text.size()));
        if (n == 0) return std::wstring();
        if (n < text.size()) {
            text.resize(n);
            return text;
        }
        text.assign(n + 1, L'\0');
    }
    return std::wstring();
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
    library.handle_ = LoadLibraryExW(wide(absolutePath(path)).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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

std::optional<std::string> HostThread::failure() const {
    if (SUCCEEDED(status_)) return std::nullopt;
    return "COM cannot be initialised: " + messageOf(static_cast<DWORD>(status_));
}

void prepareProcess() {}

std::vector<std::string> arguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wideArgs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wideArgs == nullptr) {
        for (int i = 1; i < argc; ++i) args.push_back(text::fromCodePage(argv[i]));
        return args;
    }
    for (int i = 1; i < count; ++i) args.push_back(narrow(wideArgs[i], std::wcslen(wideArgs[i])));
    LocalFree(wideArgs);
    return args;
}

std::string executableFolder() {
    std::wstring exe = filled([](wchar_t* buffer, DWORD size) {
        DWORD n = GetModuleFileNameW(nullptr, buffer, size);
        return n == size ? size + MAX_PATH : n;  // cut: ask for more
    });
    std::size_t slash = exe.find_last_of(L"\\/");
    return slash == std::wstring::npos ? ".\\" : narrow(exe.substr(0, slash + 1));
}

char separator() { return '\\'; }
bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string absolutePath(const std::string& path) {
    std::wstring relative = wide(path);
    std::wstring full = filled([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(relative.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : narrow(full);
}

PathKind pathKind(const std::string& path) {
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::file;
}

bool nameExists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

namespace {

// The volume and index that tell a file apart from every other, or false.
bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::optional<std::string> unreadable(const std::string& path) {
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return messageOf(GetLastError());
    CloseHandle(file);
    return std::nullopt;
}

std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::string> makeFolders(const std::string& path) {
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
        bool made = end == start || CreateDirectoryW(wide(partial).c_str(), nullptr);
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) return messageOf(GetLastError());
        start = end + 1;
    }
    if (pathKind(full) != PathKind::folder) return "not a folder";
    return std::nullopt;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

std::string makeTempFile(std::string& error) {
    wchar_t folder[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) {
        error = "cannot find the temporary folder: " + messageOf(GetLastError());
        return std::string();
    }
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(folder, L"vel", 0, name) == 0) {
        error = "cannot create a temporary file in " + narrow(folder, std::wcslen(folder)) + ": " +
                messageOf(GetLastError()) + " (the TMP variable names that folder)";
        return std::string();
    }
    return narrow(name, std::wcslen(name));
}

bool removeFile(const std::string& path) { return DeleteFileW(wide(path).c_str()) != 0; }

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

bool writeText(std::FILE* stream, std::string_view utf8) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return utf8.empty() || std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
    // A console: what the C library holds goes first, then the characters.
    std::fflush(stream);
    std::u16string units = text::utf16FromUtf8(utf8);
    for (std::size_t done = 0; done < units.size();) {
        DWORD written = 0;
        DWORD piece = static_cast<DWORD>(std::min<std::size_t>(units.size() - done, 16384));
        if (!WriteConsoleW(handle, units.data() + done, piece, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

DateTime decodeFileTime(std::int32_t fileTime) {
    auto v = static_cast<std::uint32_t>(fileTime);
    return DateTime{static_cast<int>((v >> 25) & 0x7F) + 1980, static_cast<int>((v >> 21) & 0x0F),
                    static_cast<int>((v >> 16) & 0x1F),        static_cast<int>((v >> 11) & 0x1F),
                    static_cast<int>((v >> 5) & 0x3F),         static_cast<int>(v & 0x1F) * 2};
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
