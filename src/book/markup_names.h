// What a book's own bytes say about its markup that a document tree may not keep:
// the names of its elements and attributes as written, prefixes included, and how a
// UTF-16 book writes its units. A serialiser's result is held against them, so that a
// save never quietly renames anything (Wine's MSXML drops a prefix that the book does
// not declare) nor changes a UTF-16 book's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

// How the first bytes of a book write its text: one byte per unit (UTF-8 and the
// ASCII-compatible encodings), UTF-16 in either byte order, with or without a
// byte-order mark (without one, a UTF-16 book starts with "<?"), or a form read here
// as neither (UTF-32, EBCDIC).
struct TextForm {
    enum class Units { bytes, utf16le, utf16be, other };
    Units units = Units::bytes;
    bool byteOrderMark = false;  // for UTF-16: FF FE or FE FF comes first
};
// The form of a book that starts with `head` (its first four bytes are enough).
TextForm textFormOf(std::string_view head);
// The form of the file at `path` (UTF-8); none when it cannot be read.
std::optional<TextForm> textFormOfFile(const char* path);

// Each element name (as "<name") and attribute name (as "name=", namespace
// declarations included) that start tags and empty-element tags write, as written,
// with how often it occurs. Comments, CDATA sections, processing instructions and the
// document type declaration hold no names. A run of characters outside ASCII reads
// as one "?", so that one name written in two encodings counts alike.
using MarkupNames = std::map<std::string, std::int64_t>;

// Counts the names of bytes handed over in pieces of any size, in order.
class MarkupNameCounter {
public:
    MarkupNameCounter();
    ~MarkupNameCounter();
    MarkupNameCounter(const MarkupNameCounter&) = delete;
    MarkupNameCounter& operator=(const MarkupNameCounter&) = delete;

    void feed(const void* data, std::size_t size);
    // The form of the text fed so far (of the first four bytes, or of all there are).
    TextForm form();
    // The names; none when the text ended inside markup or its form cannot be read.
    std::optional<MarkupNames> finish();

private:
    struct Machine;
    std::unique_ptr<Machine> machine_;
};

// The form and names of the file at `path` (UTF-8), read once, in blocks; none when
// it cannot be read, no names when they cannot be counted.
struct BookMarkup {
    TextForm form;
    std::optional<MarkupNames> names;
};
std::optional<BookMarkup> markupOfFile(const char* path);

// Whether a saved book writes the names `book` writes, each as often, but for what a
// replacement run adds: at most one more of each level of the history note's chain
// below the root and of the note itself, and the default namespace declarations a
// serialiser may put on them.
bool sameNamesBesideTheNote(const MarkupNames& book, const MarkupNames& saved);

}  // namespace vellum
