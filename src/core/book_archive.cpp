#include "core/book_archive.h"

#include "platform/book_file.h"

namespace vellum {

namespace {

bool hasSingleRoot(const BookDocument& document) {
    NodeList roots;
    std::int32_t length = 0;
    return selectNodes(document, "FictionBook", roots) && nodeListLength(roots, length) && length == 1;
}

std::unique_ptr<BookArchive> newArchive(const std::string& path) {
    auto archive = std::make_unique<BookArchive>();
    archive->path = path;
    archive->openTime = platform::utcNow();
    return archive;
}

}  // namespace

Status openBookThroughTree(const std::string& path, std::unique_ptr<BookArchive>& archive) {
    archive.reset();
    BookDocument document = loadBook(path.c_str());
    if (!document) return Status::openFailed;
    if (!hasSingleRoot(document)) return Status::badArchive;
    archive = newArchive(path);
    archive->document = std::move(document);
    return Status::ok;
}

Status openBookArchive(const std::string& path, std::unique_ptr<BookArchive>& archive) {
    archive.reset();
    if (!platform::settleBook(path.c_str())) return Status::openFailed;
    std::optional<BookScan> scan = scanBookFile(path.c_str(), ScanPurpose::reading);
    if (!scan) return Status::openFailed;
    switch (scan->firstElement) {
    case FirstElement::notXml:
        return Status::openFailed;
    case FirstElement::other:
        // Refused either way; the tree tells well-formed XML from the rest.
        return loadBook(path.c_str()) ? Status::badArchive : Status::openFailed;
    case FirstElement::undecided:
        return openBookThroughTree(path, archive);
    case FirstElement::fictionBook:
        break;
    }
    // A book the scan is not sure of may still be one the tree reads: only a book
    // the tree refuses too is damaged.
    if (!readsAsTheTree(*scan) && openBookThroughTree(path, archive) == Status::ok) return Status::ok;
    archive = newArchive(path);
    archive->fromBytes = true;
    archive->reading = readingOf(std::move(*scan));
    return Status::ok;
}

bool isBook(const std::string& path) {
    if (!platform::settleBook(path.c_str())) return false;
    switch (detectFirstElement(path.c_str())) {
    case FirstElement::fictionBook:
        return true;
    case FirstElement::undecided: {
        BookDocument document = loadBook(path.c_str());
        return document && hasSingleRoot(document);
    }
    case FirstElement::other:
    case FirstElement::notXml:
        break;
    }
    return false;
}

}  // namespace vellum
