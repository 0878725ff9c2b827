// The dated note that every replacement run leaves in the book's history.
#pragma once

#include "book/book_edits.h"
#include "book/document.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>

namespace vellum {

// Status values of appendChildElement, as the system's DOM reports them.
inline constexpr std::int32_t kStatusInvalidArg = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t kStatusPointer = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t kStatusFail = static_cast<std::int32_t>(0x80004005u);

// Creates element `name` (in the parent's namespace) with an optional text, appends
// it as the last child of `parent`, and hands it out through `appended` when given.
// 0, kStatusInvalidArg (no parent), kStatusPointer (no name) or kStatusFail.
std::int32_t appendChildElement(const BookDocument& document, const Node* parent, const char* name,
                                const char* text, Node* appended);

// The note text: "v++++1 Y.MM.DD h:m:s N items replaced(vellum <date> <time>) ".
std::string formatHistoryNote(const platform::UtcTime& now, std::int32_t replacedCount);

// Appends one `p` with the note under FictionBook/description/document-info/history,
// creating the missing levels. 1 when the note was appended, else 0 (a book whose
// root is not FictionBook gets nothing). `report`, when given, receives which levels
// were found and which created, and the note's text.
std::int32_t appendHistoryNote(const BookDocument& document, std::int32_t replacedCount,
                               NoteEdit* report = nullptr);

}  // namespace vellum
