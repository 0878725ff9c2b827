// A streaming scanner over a book's own bytes, for three purposes. For a save by
// splicing it finds where the byte ranges sit: the content of every `binary` element
// whose parent is named FictionBook, and the chain of elements the history note goes
// under; a book it cannot read with certainty is incomplete. For a reader it finds
// what a host is shown: every accepted binary element with its id, content type and
// sizes, and where its content lies; it reads on past bytes that break XML, finding
// the binaries still whole. For detection it reads up to the first element's name.
// It reads markup only as far as that needs and holds no more than a few names and
// values at a time. Its parts, one for each kind of markup, are in
// book_scan_parts.h.
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

// What a scan is for: it reads the same markup each time and keeps what its caller
// needs.
enum class ScanPurpose : std::uint8_t {
    splice,     // the binaries' byte ranges and the note's chain
    reading,    // what a reader is shown: BookScan::entries
    detection,  // the first element; the scan ends at its name
};

// The first element of a book, as the bytes up to its name tell.
enum class FirstElement : std::uint8_t {
    fictionBook,  // named FictionBook, without a prefix
    other,        // named otherwise
    notXml,       // there is none: an empty file, or bytes that are not XML text before it
    // An encoding the scanner does not read, or a name that ends past kPrologCap: a
    // parser has to tell.
    undecided,
};

// The first element's name must end within this many bytes of the start for the
// scanner to tell what it is. Detection reads no further.
inline constexpr std::uint64_t kPrologCap = 1 << 18;

// A binary element as a reader is shown it: one "//FictionBook/binary" selects that
// has an id and no child element (after bytes that break XML: any element named
// binary with an id and content without markup, see BookScan::damaged).
struct ReadEntry {
    std::string id;           // UTF-8, as a parser reports it (see `exact`)
    std::string contentType;  // UTF-8; empty without the attribute
    // The content, in bytes from the start of the file, as for ScannedBinary.
    std::uint64_t contentStart = 0;
    std::uint64_t contentEnd = 0;
    std::int64_t textLength = 0;   // UTF-16 units of the content, each CR LF as one
    std::int64_t decodedSize = 0;  // the bytes its Base64 decodes to
    // The id and the content type were read exactly. Otherwise a reference the
    // scanner cannot resolve stays as written, an undecodable byte is U+FFFD, and an
    // id past KeptValue::kCap is its start.
    bool exact = true;
    // The content holds no reference, comment, CDATA section or processing
    // instruction: its bytes are its text.
    bool plain = true;
};

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
    // When the file's content last changed, as it was before the scan read it (a
    // scan of a file only).
    std::optional<std::int64_t> modified;
    std::vector<ScannedBinary> binaries;  // splice only
    std::array<ScannedLevel, kNoteDepth> levels;

    // Reading and detection.
    FirstElement firstElement = FirstElement::notXml;
    // The first element is FictionBook, but the bytes after its name break XML
    // (a malformed or mismatched tag, a second root, a file cut short). The scan
    // then goes on without the element stack: the entries found before the damage
    // are the binaries placed under a FictionBook parent, those after it any
    // element named binary with an id, content without markup and its end tag.
    bool damaged = false;
    // The document type declaration declares an entity or a default attribute value
    // (or refers to a parameter entity): a parser's text or attributes may hold what
    // the bytes do not.
    bool changesContent = false;
    std::vector<ReadEntry> entries;  // reading only, in document order
};

// Scans bytes handed over in pieces of any size, in order.
class BookScanner {
public:
    explicit BookScanner(ScanPurpose purpose = ScanPurpose::splice);
    ~BookScanner();
    BookScanner(const BookScanner&) = delete;
    BookScanner& operator=(const BookScanner&) = delete;

    // False once the scan needs no more bytes (detection has found the first
    // element, a reader's book is no book, a splice's cannot be read).
    bool feed(const void* data, std::size_t size);
    // Ends the input and hands out what was found.
    BookScan finish();

private:
    struct Machine;
    std::unique_ptr<Machine> machine_;
};

// Scans the file at `path` (UTF-8) in blocks, for `purpose`: the whole file, or for
// detection at most kPrologCap + 1 bytes. None when it cannot be read; `complete`
// tells whether a splice's scan could place everything.
std::optional<BookScan> scanBookFile(const char* path, ScanPurpose purpose = ScanPurpose::splice);

}  // namespace vellum
