// The host's action on the entry the last readHeader delivered: test it, or extract
// it (a binary element's decoded bytes, or the index text of "files.bbs").
#pragma once

#include "core/book_archive.h"
#include "core/progress.h"
#include "core/status.h"

#include <string>
#include <string_view>

namespace vellum {

// ok when the current entry can be read: an accepted element, or the index.
// badData for an element that cannot be reached or is rejected, or after the end.
Status testEntry(const BookArchive& archive);

// Writes the current entry to `target`, a null `target` standing for one the host
// gave but that cannot be used. ok, badData (the element cannot be reached, or the
// listing has ended), createFailed or openFailed (the element's, or the index's,
// target cannot be created), writeFailed or aborted. On a failure no file remains.
Status extractEntry(const BookArchive& archive, const std::string* target, ProgressSink* progress);

// Decodes Base64 `text` into a new file at `targetPath`, reporting each block
// written (kProgressBlock bytes, the last one shorter). ok, createFailed,
// writeFailed or aborted.
Status decodeBinaryToFile(std::string_view text, const std::string& targetPath, ProgressSink* progress);

// Writes the index text to `targetPath`, reporting each 64 KiB chunk written: ok,
// openFailed, writeFailed or aborted.
Status writeIndexFile(const BookArchive& archive, const std::string& targetPath, ProgressSink* progress);

}  // namespace vellum
