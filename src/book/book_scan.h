// A streaming scanner over a book's own bytes. It finds where the byte ranges that a
// save by splicing needs sit: the content of every `binary` element whose parent is
// named FictionBook, and the chain of elements the history note goes under. It reads
// markup only as far as that needs, holds no more than a few names and ids at a
// time, and calls a book it cannot read with certainty incomplete. Its parts, one
// for each kind of markup, are in book_scan_parts.h.
#pragma once

#include "book/book_charset.h"
#include "book/note_path.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

// One element "//FictionBook/binary" selects (names as written, prefix included).
// Offsets are in bytes from the start of the file.
struct ScannedBinary {
    bool hasId = false;
    // False when the id holds a reference or a character the scanner cannot read
    // exactly (an entity of the book's own, a byte of an 8-bit encoding it has no
    // table for); the id is then not to be compared.
    bool idKnown = true;
    std::u16string id;  // the attribute's value as a parser reports it
    bool emptyTag = false;
    // The content, from just after the start tag's ">" to the end tag's "<"; for an
    // empty-element tag both are the offset of its "/".
    std::uint64_t contentStart = 0;
    std::uint64_t contentEnd = 0;
};

// The first element of one level of the history note's chain (note_path.h), looked
// for in the whole book.
struct ScannedLevel {
    bool found = false;
    bool emptyTag = false;
    std::string name;           // as written (ASCII)
    std::uint64_t start = 0;    // its start tag's "<"
    std::uint64_t closeAt = 0;  // its end tag's "<", or the "/" of its empty-element tag
    std::int64_t childElements = 0;
    // The last child element: its start tag's "<" and its content (as for a binary).
    std::uint64_t lastChildStart = 0;
    std::uint64_t lastChildContentStart = 0;
    std::uint64_t lastChildContentEnd = 0;
};

struct BookScan {
    // True only when the whole book was read as well-formed markup in an encoding
    // the splice handles.
    bool complete = false;
    BookEncoding encoding = BookEncoding::unsupported;
    unsigned unitSize = 1;  // bytes per code unit: 2 for UTF-16
    // The document type declaration declares an entity whose expansion could hold
    // markup (or could not be read): the parser's elements may then differ from
    // the elements written in the bytes.
    bool entitiesMayHoldMarkup = false;
    std::uint64_t size = 0;  // bytes read
    std::vector<ScannedBinary> binaries;
    std::array<ScannedLevel, kNoteDepth> levels;
};

// Scans bytes handed over in pieces of any size, in order.
class BookScanner {
public:
    BookScanner();
    ~BookScanner();
    BookScanner(const BookScanner&) = delete;
    BookScanner& operator=(const BookScanner&) = delete;

    void feed(const void* data, std::size_t size);
    // Ends the input and hands out what was found.
    BookScan finish();

private:
    struct Machine;
    std::unique_ptr<Machine> machine_;
};

// Scans the file at `path` (UTF-8) in blocks. None when it cannot be read;
// `complete` tells whether the scan could place everything.
std::optional<BookScan> scanBookFile(const char* path);

}  // namespace vellum
