// Saving a replacement by splicing the book's own bytes: every byte outside the
// replaced binary contents and the new history note is copied from the original
// file, so its byte-order mark, line ends, white space, comments, entity references,
// quoting and empty-element tags come back as they were. The document decides what
// changes; the splice is made only when a scan of the bytes agrees with the
// document on everything it touches, and the result is scanned again as it is
// written, so that a book the scanner could misread is saved through the
// document's serialiser instead.
#pragma once

#include "book/book_edits.h"
#include "platform/book_writer.h"

#ifdef VELLUM_SAVE_SEAM
#include <atomic>
#include <cstdint>
#endif

namespace vellum {

// Fills edits.binaries from the run's selection of "//FictionBook/binary":
// every element's id, and for each element with `replaced[i]` set, its new text.
// False when the document could not tell.
bool collectBinaryEdits(const NodeList& binaries, const std::vector<bool>& replaced, BookEdits& edits);

enum class SpliceResult {
    spliced,      // every byte went to the writer, and the result checked
    declined,     // the book cannot be spliced, or the check failed: save it through the document
    writeFailed,  // the writer refused bytes
};

// Writes the book at `path` with `edits` applied to its bytes, reading the book
// twice: once to scan it, once to copy it around the changes.
// On `declined` the bytes written so far, if any, are to be dropped.
SpliceResult spliceBook(const char* path, const BookEdits& edits, const platform::BookWriter& write);

#ifdef VELLUM_SAVE_SEAM
// Built into the fuzz targets alone (the fuzz preset's VELLUM_FUZZ), never into the
// plug-in: a switch that makes every splice decline, so that a save goes through the
// serialiser, and a count of the splices that went to their writer whole, so that
// one book can be saved both ways and the two results compared.
namespace save_seam {
inline std::atomic<bool> declineSplices{false};
inline std::atomic<std::uint64_t> splicesWritten{0};
}  // namespace save_seam
#endif

}  // namespace vellum
