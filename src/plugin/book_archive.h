// The record behind an archive handle, and opening, closing and recognising a book.
#pragma once

#include "book/document.h"
#include "platform/platform.h"
#include "plugin/wcx.h"

#include <cstdint>
#include <string>

namespace vellum {

// What an open archive handle stands for. Owns its document, the node list of the
// listing and the index text until CloseArchive.
struct BookArchive {
    BookDocument document;
    tChangeVolProc changeVolProc = nullptr;
    tProcessDataProc processDataProc = nullptr;
    NodeList binaries;              // "//FictionBook/binary", from the first ReadHeader to the end
    std::int32_t currentIndex = 0;  // the element delivered last
    std::int32_t binaryCount = 0;
    platform::UtcTime openTime;     // every entry's date
    std::string indexText;          // "files.bbs", one line per delivered element
    std::int32_t listingPhase = 0;  // 0 binaries, 1 index delivered, 2 ended
};

// The process-wide progress callback used while packing; none when loaded.
extern tProcessDataProc packProgressCallback;

// Loads the book and checks it has exactly one FictionBook root. On failure returns
// null and sets `openResult` to E_EOPEN (not loadable) or E_BAD_ARCHIVE (no single root).
BookArchive* openBookArchive(const char* path, int& openResult);
void closeBookArchive(BookArchive* archive);
// True when the file is a book that openBookArchive accepts.
bool isBook(const char* path);

}  // namespace vellum
