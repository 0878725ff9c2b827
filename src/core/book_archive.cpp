#include "core/book_archive.h"

#include "platform/book_file.h"

namespace vellum {

static bool hasSingleRoot(const BookDocument& document) {
    NodeList roots;
    std::int32_t length = 0;
    return selectNodes(document, "FictionBook", roots) && nodeListLength(roots, length) && length == 1;
}

Status openBookArchive(const std::string& path, std::unique_ptr<BookArchive>& archive) {
    archive.reset();
    if (!platform::settleBook(path.c_str())) return Status::openFailed;
    BookDocument document = loadBook(path.c_str());
    if (!document) return Status::openFailed;
    if (!hasSingleRoot(document)) return Status::badArchive;
    auto opened = std::make_unique<BookArchive>();
    opened->document = std::move(document);
    opened->openTime = platform::utcNow();
    archive = std::move(opened);
    return Status::ok;
}

bool isBook(const std::string& path) {
    if (!platform::settleBook(path.c_str())) return false;
    BookDocument document = loadBook(path.c_str());
    return document && hasSingleRoot(document);
}

}  // namespace vellum
