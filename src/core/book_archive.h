// The record behind an open archive, and opening and recognising a book.
#pragma once

#include "book/book_read.h"
#include "book/document.h"
#include "core/status.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vellum {

// Where the listing of an open archive stands.
enum class ListingPhase {
    binaries,        // the accepted binary elements are delivered, one by one
    indexDelivered,  // "files.bbs" was delivered last
    ended,           // the end has been reported
};

// What an open archive stands for. A book is read from its own bytes: the entries a
// scan found, each decoded from the file when it is extracted. Where the scan cannot
// be sure it shows what the document tree shows, and the tree reads the book, the
// archive owns the document and the node list of the listing instead.
struct BookArchive {
    std::string path;
    bool fromBytes = false;  // the entries below serve the listing, not the document
    BookReading reading;
    BookDocument document;
    NodeList binaries;              // "//FictionBook/binary", from the first entry to the end
    bool listingBegun = false;
    std::int32_t currentIndex = 0;  // the entry delivered last
    std::int32_t binaryCount = 0;
    platform::UtcTime openTime;     // every entry's date
    ListingPhase listingPhase = ListingPhase::binaries;
};

// Opens the book, once a save that did not end has been settled (platform::settleBook):
// ok with the archive, openFailed (missing, unreadable, not XML, or left in doubt by
// such a save) or badArchive (well-formed, but its root is not FictionBook). A book
// whose first element is FictionBook always opens: read from its bytes when they show
// what the tree shows, else through the tree when the tree reads it, else (a damaged
// book) with the binary elements its bytes still hold whole.
Status openBookArchive(const std::string& path, std::unique_ptr<BookArchive>& archive);
// The same through the document tree alone (and without settling): what a book shows
// where its bytes are not read.
Status openBookThroughTree(const std::string& path, std::unique_ptr<BookArchive>& archive);
// True when the file is a book that openBookArchive opens (after settleBook too).
// Reads the file's start only, unless a parser has to tell (an encoding the scanner
// does not read, or a first element past kPrologCap bytes).
bool isBook(const std::string& path);

}  // namespace vellum
