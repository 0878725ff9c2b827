#include "output.h"

#include "host.h"
#include "text/system_text.h"
#include "text/unicode.h"
#include "vellum.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace vellum::tool {

namespace {

std::string formatted(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    int size = std::vsnprintf(nullptr, 0, format, args);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

void message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = "vellum: " + formatted(format, args) + "\n";
    va_end(args);
    host::writeText(stderr, text);
}

void print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatted(format, args);
    va_end(args);
    host::writeText(stdout, text);
}

std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            std::size_t start = i;
            if (text::decodeUtf8(utf8, i))
                out.append(utf8, start, i - start);
            else
                text::appendUtf8(out, text::kReplacement);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

bool writeOut(const char* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stdout) != size) {
        if (errno != EPIPE) message("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

bool writeTextOut(const std::string& text) {
    if (!host::writeText(stdout, text)) {
        if (errno != EPIPE) message("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

bool flushOut() {
    if (std::fflush(stdout) != 0) {
        if (errno != EPIPE) message("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

FileHandle openFile(const std::string& path, const char* mode) { return FileHandle(host::openFile(path, mode)); }

std::optional<std::string> readWholeFile(const std::string& path) {
    FileHandle file = openFile(path, "rb");
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
    if (std::ferror(file.get()) != 0) return std::nullopt;
    return bytes;
}

TempFile::~TempFile() {
    if (!path.empty()) host::removeFile(path);
}

std::optional<std::string> TempFile::create() {
    std::string error;
    path = host::makeTempFile(error);
    if (path.empty()) return error;
    return std::nullopt;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (host::isSeparator(folder.back())) return folder + name;
    return folder + host::separator() + name;
}

int openFailed(const PluginExports& api, const std::string& book, int code) {
    std::string why;
    switch (code) {
    case E_BAD_ARCHIVE: why = "not a FictionBook book"; break;
    case E_NO_MEMORY: why = "out of memory"; break;
    case E_EOPEN:
        // The 8-bit functions take the name in the code page.
        if (!api.unicode() && !text::toCodePage(book, text::Unheld::question).exact) {
            why = "its name does not fit the system code page, in which the plug-in's 8-bit functions take it";
            break;
        }
        switch (host::pathKind(book)) {
        case host::PathKind::missing: why = "no such file"; break;
        case host::PathKind::folder: why = "it is a folder"; break;
        case host::PathKind::other: why = "not a regular file"; break;
        default:
            if (std::optional<std::string> error = host::unreadable(book))
                why = *error;
            else
                why = "not a well-formed XML document";
        }
        break;
    default: why = "the plug-in answered " + codeName(code);
    }
    message("cannot open %s: %s", book.c_str(), why.c_str());
    return code == E_NO_MEMORY ? kExitPartly : kExitBadBook;
}

int listingFailed(const std::string& book, int code) {
    message("cannot list %s: %s", book.c_str(),
            code == E_NO_MEMORY ? "out of memory" : ("the plug-in answered " + codeName(code)).c_str());
    return kExitPartly;
}

std::string extractFailure(int code, const Entry& entry, const std::string& book, const std::string& target) {
    switch (code) {
    case E_BAD_DATA: return "cannot read the entry " + entry.name + " from " + book;
    case E_ECREATE:
    case E_ECLOSE:
    case E_EOPEN: return "cannot create " + target;
    case E_EWRITE: return "cannot write " + target + ": the disk is full or the file is too large";
    case E_NO_MEMORY: return "cannot extract " + entry.name + ": out of memory";
    default: return "cannot extract " + entry.name + ": the plug-in answered " + codeName(code);
    }
}

}  // namespace vellum::tool
