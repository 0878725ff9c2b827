// The host on Linux, as Double Commander is there: the plug-in is a shared object,
// names are UTF-8, FileTime is a Unix timestamp.
#include "host.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellum::host {

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) ::dlclose(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Library::~Library() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

Library Library::load(const std::string& path, std::string& error) {
    // A name without a slash would be looked up along the library path.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    Library library;
    library.handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library.handle_ == nullptr) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot be loaded";
    }
    return library;
}

void* Library::symbol(const char* name) const { return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr; }

HostThread::HostThread() = default;
HostThread::~HostThread() = default;
std::optional<std::string> HostThread::failure() const { return std::nullopt; }

void prepareProcess() { std::signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::string executableFolder() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    std::string exe(buffer, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

char separator() { return '/'; }
bool isSeparator(char c) { return c == '/'; }

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return path;
    std::string cwd(buffer);
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    return cwd + path;
}

PathKind pathKind(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return PathKind::missing;
    if (S_ISREG(st.st_mode)) return PathKind::file;
    if (S_ISDIR(st.st_mode)) return PathKind::folder;
    return PathKind::other;
}

bool nameExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool isReadOnly(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

std::optional<std::string> unreadable(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return std::nullopt;
}

std::uint64_t fileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::optional<std::string> makeFolders(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        partial = path.substr(0, end);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return std::strerror(errno);
        start = end + 1;
    }
    if (pathKind(path) != PathKind::folder) return "not a folder";
    return std::nullopt;
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::string makeTempFile(std::string& error) {
    const char* dir = std::getenv("TMPDIR");
    bool named = dir != nullptr && *dir != '\0';
    std::string folder = named ? dir : "/tmp";
    std::string pattern = folder + "/vellum-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot create a temporary file in " + folder + ": " + std::strerror(errno) +
                (named ? " (the folder TMPDIR names)" : " (TMPDIR can name another folder)");
        return std::string();
    }
    ::close(fd);
    return pattern;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string lastError() { return std::strerror(errno); }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int terminalWidth() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void setBinaryStdout() {}

bool writeText(std::FILE* stream, std::string_view utf8) {
    return utf8.empty() || std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

DateTime decodeFileTime(std::int32_t fileTime) {
    std::time_t seconds = static_cast<std::time_t>(static_cast<std::uint32_t>(fileTime));
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string systemFileName(const std::string& name) { return name; }

}  // namespace vellum::host
