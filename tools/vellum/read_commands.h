// The commands that read a book: list, test, extract and cat, over one reader that
// walks the book's entries as a file manager does.
#pragma once

#include "plugin.h"
#include "vellum.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellum::tool {

int listCommand(const PluginExports& api, const Options& options);
int testCommand(const PluginExports& api, const Options& options);
// All entries, or those named (`names`).
int extractCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& names);
int catCommand(const PluginExports& api, const Options& options, const std::string& name);

// Walks the entries of `book` in the host's order, the book opened in `openMode`.
// `visit` is told each entry on the open book (and may process it there) and answers
// false to stop. kExitOk, or why the book could not be opened or listed (told on
// standard error).
int walkEntries(const PluginExports& api, const std::string& book, int openMode,
                const std::function<bool(OpenBook&, const Entry&)>& visit);

// The entries of a book as listed; with `indexText`, the content of "files.bbs" too,
// extracted on the same handle when it comes, last. When no temporary file can be
// made for it, the listing goes on, `indexText` is left empty and the reason told.
int readEntries(const PluginExports& api, const std::string& book, std::vector<Entry>& entries,
                std::optional<std::string>* indexText);

// The file name an entry is written under: separators, control characters and the
// names "." and ".." cannot leave the output folder or name another folder, so they
// are replaced by "_", what the system does not accept in a name is changed too, and
// a name too long for a file system is cut to 255 bytes.
std::string safeFileName(const std::string& entryName);

}  // namespace vellum::tool
