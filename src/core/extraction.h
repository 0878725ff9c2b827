// The host's action on the entry the last readHeader delivered: test it, or extract
// it (a binary element's decoded bytes, or the text of "files.bbs").
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
// gave but that cannot be used: an element's decoded bytes, or for "files.bbs"
// `indexText`, the text the caller built from the entries it was shown. ok, badData
// (the element cannot be reached, or the listing has ended), closeFailed (an
// element's target cannot be created) or openFailed (the index's), writeFailed or
// aborted. On a failure no file remains.
Status extractEntry(const BookArchive& archive, std::string_view indexText, const std::string* target,
                    ProgressSink* progress);

// Decodes Base64 `text` into a new file at `targetPath`, reporting each block
// written (kProgressBlock bytes, the last one shorter). ok, closeFailed (the file
// cannot be created), writeFailed or aborted.
Status decodeBinaryToFile(std::string_view text, const std::string& targetPath, ProgressSink* progress);

// Writes `text` to a new file at `targetPath`, reporting each 64 KiB chunk written:
// ok, openFailed (the file cannot be created), writeFailed or aborted.
Status writeTextFile(std::string_view text, const std::string& targetPath, ProgressSink* progress);

}  // namespace vellum
