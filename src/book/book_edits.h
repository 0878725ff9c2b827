// What a replacement run did to its document, in the terms a save by splicing needs:
// a plain record filled by the run and read by spliceBook.
#pragma once

#include "book/document.h"
#include "book/note_path.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vellum {

// One element of "//FictionBook/binary" as the document holds it after the run.
struct BinaryEdit {
    bool hasId = false;
    std::string id;  // as attributeText reads it
    bool replaced = false;
    ElementText text;  // a replaced element's new text; a view into the document where it can be
};

// How each level of the history note's chain (note_path.h) came to be: already in
// the book, or appended by the run.
enum class NoteLevel { absent, found, created };

// What appendHistoryNote did.
struct NoteEdit {
    std::array<NoteLevel, kNoteDepth> levels{};
    // The child elements of the last level found, before the run appended to it.
    std::int64_t parentChildren = 0;
    bool appended = false;  // the note's `p` is in the document
    std::string text;       // the note's text
};

struct BookEdits {
    std::vector<BinaryEdit> binaries;  // every element of "//FictionBook/binary", in document order
    NoteEdit note;
};

}  // namespace vellum
