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
// `indexText`, the text the caller built from the entries it was shown. The host
// hears of each block written: kProgressBlock bytes of an element (the last one
// shorter), 64 KiB of the index. ok, badData (the element cannot be reached, or the
// listing has ended; for a book read from its bytes, also when the book changed
// since it was opened), closeFailed (an element's target cannot be created) or
// openFailed (the index's), readFailed (the book cannot be read), writeFailed or
// aborted. On a failure no file remains.
Status extractEntry(const BookArchive& archive, std::string_view indexText, const std::string* target,
                    ProgressSink* progress);

}  // namespace vellum
