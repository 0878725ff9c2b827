// Reading a book from its own bytes, without a document tree: what a file's start
// tells of it, what a reader is shown of a book and whether that is certainly what
// the tree would show, and an entry's content decoded again from the file, a block
// at a time.
#pragma once

#include "book/base64.h"
#include "book/book_scan.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vellum {

// The first element of the book at `path`, from at most kPrologCap + 1 bytes of it;
// notXml when it cannot be read.
FirstElement detectFirstElement(const char* path);

// Whether a reading scan certainly shows what the document tree shows: the book read
// to its end as markup without damage, in an encoding the scanner reads, without
// declarations that change its content, every entry's id and content type read
// exactly and its content plain.
bool readsAsTheTree(const BookScan& scan);

// What a reader is shown of a book, and what it takes to read an entry again.
struct BookReading {
    std::uint64_t size = 0;  // the book's size when it was scanned
    std::optional<std::int64_t> modified;  // and when its content last changed then
    BookEncoding encoding = BookEncoding::utf8;
    std::vector<ReadEntry> entries;
};

// A book read from a reading scan: the entries with plain content (every entry of a
// book that reads as the tree; the whole pictures of a damaged book).
BookReading readingOf(BookScan&& scan);

// Decodes the Base64 content of one entry from the book's file.
class EntryDecoder {
public:
    // Opens the book at `path` at the entry's content. False when it cannot be
    // opened, or has changed since it was scanned (another size, or content written
    // since: a picture of the same length swapped in by another program).
    bool open(const char* path, const BookReading& book, const ReadEntry& entry);

    // The next decoded bytes into `out`: `capacity` of them (a multiple of 3), or,
    // once the content is used up, what is left with the bytes of an unfinished last
    // group; 0 at the end. None when the book cannot be read.
    std::optional<std::size_t> fill(unsigned char* out, std::size_t capacity);

private:
    bool readMore();

    platform::File file_;
    bool wide_ = false;           // UTF-16: each unit becomes one byte before decoding
    bool littleEndian_ = false;
    std::uint64_t left_ = 0;      // bytes of the content not read yet
    std::vector<unsigned char> block_;
    Base64Decoder decoder_;
    bool done_ = false;
};

}  // namespace vellum
