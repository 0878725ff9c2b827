// The dated note that every replacement run leaves in the book's history.
#pragma once

#include "book/book_edits.h"
#include "book/document.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>

namespace vellum {

// The note text: "v++++1 Y.MM.DD h:m:s N items replaced(vellum <date> <time>) ".
std::string formatHistoryNote(const platform::UtcTime& now, std::int32_t replacedCount);

// Appends one `p` with the note under the last level of the note's chain
// (note_path.h), first creating each missing level below the root as the last child
// of the level above it (in its namespace). Which levels were found and which
// created come back, and `appended` with the note's text when the note went in; a
// book whose root is not FictionBook gets nothing. A level created before a later
// step failed stays in the document.
NoteEdit appendHistoryNote(const BookDocument& document, std::int32_t replacedCount);

}  // namespace vellum
