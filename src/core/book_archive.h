// The record behind an open archive, and opening and recognising a book.
#pragma once

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

// What an open archive stands for: its document and the node list of the listing,
// owned until the archive is closed.
struct BookArchive {
    BookDocument document;
    NodeList binaries;              // "//FictionBook/binary", from the first entry to the end
    std::int32_t currentIndex = 0;  // the element delivered last
    std::int32_t binaryCount = 0;
    platform::UtcTime openTime;     // every entry's date
    ListingPhase listingPhase = ListingPhase::binaries;
};

// Loads the book and checks it has exactly one FictionBook root: ok with the archive,
// openFailed (not loadable, or left in doubt by a save that did not end: see
// platform::settleBook) or badArchive (no single root).
Status openBookArchive(const std::string& path, std::unique_ptr<BookArchive>& archive);
// True when the file is a book that openBookArchive accepts (after settleBook too).
bool isBook(const std::string& path);

}  // namespace vellum
