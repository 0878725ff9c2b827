#include "plugin/book_archive.h"

#include <memory>
#include <new>

namespace vellum {

tProcessDataProc packProgressCallback = nullptr;

static bool hasSingleRoot(const BookDocument& document) {
    NodeList roots;
    std::int32_t length = 0;
    return selectNodes(document, "FictionBook", roots) && nodeListLength(roots, length) && length == 1;
}

BookArchive* openBookArchive(const char* path, int& openResult) {
    BookDocument document = loadBook(path);
    if (!document) {
        openResult = E_EOPEN;
        return nullptr;
    }
    if (!hasSingleRoot(document)) {
        openResult = E_BAD_ARCHIVE;
        return nullptr;
    }
    // Owned here until it is complete: running out of memory on the way frees it.
    auto archive = std::make_unique<BookArchive>();
    archive->document = std::move(document);
    archive->openTime = platform::utcNow();
    archive->indexText.reserve(1024);
    return archive.release();
}

void closeBookArchive(BookArchive* archive) { delete archive; }

bool isBook(const char* path) {
    BookDocument document = loadBook(path);
    return document && hasSingleRoot(document);
}

}  // namespace vellum
