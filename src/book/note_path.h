// Where a replacement run's history note goes: under the chain of elements
// FictionBook/description/document-info/history, as one new `p`. One definition for
// the run that appends the note (history_note.cpp), the scanner that finds the chain
// in a book's bytes (book_scan.cpp) and the splice that writes the note into them
// (book_splice.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace vellum {

// The levels of the chain, from the root down. Level k is the first element, in the
// whole book, that the path of the first k + 1 names selects.
inline constexpr std::size_t kNoteDepth = 4;
inline constexpr std::array<const char*, kNoteDepth> kNotePath = {"FictionBook", "description", "document-info",
                                                                  "history"};
// The note itself, one step below the last level.
inline constexpr const char* kNoteElement = "p";

// Step k of the chain with the note at its end: the name of level k, or the note's
// for k == kNoteDepth.
constexpr const char* noteStep(std::size_t k) { return k < kNoteDepth ? kNotePath[k] : kNoteElement; }

// The pattern that selects level k on the document: "FictionBook",
// "FictionBook/description", ... "FictionBook/description/document-info/history".
inline std::string notePattern(std::size_t level) {
    std::string pattern = kNotePath[0];
    for (std::size_t k = 1; k <= level && k < kNoteDepth; ++k) pattern.append("/").append(kNotePath[k]);
    return pattern;
}

}  // namespace vellum
