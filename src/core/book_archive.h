// The record behind an open archive, and opening and recognising a book.
#pragma once

#include "book/document.h"
#include "core/status.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vellum {

// What an open archive stands for: its document, the node list of the listing and
// the index text, owned until the archive is closed.
struct BookArchive {
    BookDocument document;
    NodeList binaries;              // "//FictionBook/binary", from the first entry to the end
    std::int32_t currentIndex = 0;  // the element delivered last
    std::int32_t binaryCount = 0;
    platform::UtcTime openTime;     // every entry's date
    std::string indexText;          // "files.bbs" in the host's 8-bit text, one line per delivered element
    std::int32_t listingPhase = 0;  // 0 binaries, 1 index delivered, 2 ended
};

// Loads the book and checks it has exactly one FictionBook root: ok with the archive,
// openFailed (not loadable) or badArchive (no single root).
Status openBookArchive(const std::string& path, std::unique_ptr<BookArchive>& archive);
// True when the file is a book that openBookArchive accepts.
bool isBook(const std::string& path);

}  // namespace vellum
