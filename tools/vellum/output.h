// What every command writes: messages on standard error, results on standard
// output, text made fit for a terminal or for JSON, and the messages that tell why
// the plug-in failed.
#pragma once

#include "plugin.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace vellum::tool {

// "vellum: " and the message, on standard error. Text is UTF-8 (see host::writeText).
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formatted text on standard output.
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text for the terminal: control characters shown as "?".
std::string printable(std::string text);
// A JSON string: UTF-8 text escaped, invalid UTF-8 read as text/unicode.h says.
std::string jsonString(const std::string& utf8);

// Writes bytes to standard output; false (after a message, unless the reader has
// gone away) when they cannot be written. writeTextOut writes UTF-8 text.
bool writeOut(const char* data, std::size_t size);
bool writeTextOut(const std::string& text);
bool flushOut();

// A file opened with the C library, closed once when it goes.
struct CloseFile {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, CloseFile>;
FileHandle openFile(const std::string& path, const char* mode);
// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// A temporary file, removed when it goes.
struct TempFile {
    std::string path;
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();
    // Creates the file; why that failed, or nothing.
    std::optional<std::string> create();
};

// A folder and a name joined by the host's separator.
std::string joinPath(const std::string& folder, const std::string& name);

// Why a book did not open, from OpenArchive's result and what the system says of the
// file, told on standard error; the exit status that goes with it.
int openFailed(const PluginExports& api, const std::string& book, int code);
// A listing that ReadHeader broke off with `code`.
int listingFailed(const std::string& book, int code);
// Why an entry could not be extracted to `target`.
std::string extractFailure(int code, const Entry& entry, const std::string& book, const std::string& target);

}  // namespace vellum::tool
