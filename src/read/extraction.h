// The host's action on the entry the last ReadHeader delivered: skip, test, or
// extract it (a binary element's decoded bytes, or the index text of "files.bbs").
#pragma once

#include "plugin/book_archive.h"

#include <string>
#include <string_view>

namespace vellum {

// The result code for `operation` on the current entry.
int processFile(const BookArchive& archive, int operation, const char* destPath, const char* destName);

// Joins the host's folder and name (or takes the name as the whole path when there
// is no folder). False when the result would not fit the host's 33000-byte path
// buffer; such a path is refused rather than cut, which would name another file.
bool buildTargetPath(std::string& target, const char* destPath, const char* destName);

// Decodes Base64 `text` into a new file at `targetPath`, reporting each group of
// four characters to the archive's progress callback. 0, E_ECLOSE (cannot create),
// E_EWRITE (a write failed) or E_EABORTED; on a failure no file remains.
int decodeBinaryToFile(const BookArchive& archive, std::string_view text, const std::string& targetPath);

// Writes the index text to `targetPath`: 0, E_EOPEN, E_EWRITE or E_EABORTED; on a
// failure no file remains.
int writeIndexFile(const BookArchive& archive, const std::string& targetPath);

}  // namespace vellum
