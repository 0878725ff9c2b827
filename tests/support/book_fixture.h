// Books made from inline XML for tests: loaded as documents, or opened through the
// exported functions as the host opens them.
#pragma once

#include "book/document.h"
#include "core/book_archive.h"
#include "plugin/wcx.h"
#include "support/test_support.h"

#include <string>
#include <vector>

namespace vellum::test {

// A loaded book and its binary elements, for tests of the core beneath the exports.
struct LoadedBook {
    explicit LoadedBook(const std::string& xml);
    Node binary(int index) const;  // the index-th element of //FictionBook/binary

    TempDir dir;
    std::string path;
    BookDocument document;
    NodeList binaries;
};

// A book opened through OpenArchive; closed with CloseArchive when it goes.
struct OpenedBook {
    explicit OpenedBook(const std::string& xml);
    ~OpenedBook();
    OpenedBook(const OpenedBook&) = delete;
    OpenedBook& operator=(const OpenedBook&) = delete;

    TempDir dir;
    std::string path;
    HANDLE_WCX handle = nullptr;
};

// Saves `document` into a file at `path`, as it would be put into a book.
bool saveBookTo(const BookDocument& document, const std::string& path);

// One entry as the host sees it while walking an archive.
struct ListedEntry {
    std::string name;
    int packSize = 0;
    int unpSize = 0;
    int fileTime = 0;
    int fileAttr = 0;
    int flags = 0;
};

// Walks the archive to its end with PK_SKIP; every ReadHeader result must be 0 until 10.
std::vector<ListedEntry> listAll(HANDLE_WCX handle);
// Opens `path`, lists it with PK_SKIP, closes it. Empty when it does not open.
std::vector<ListedEntry> listBook(const std::string& path);

// Opens `path` and extracts every entry into `folder` (DestPath given); returns the
// names extracted, "files.bbs" last. Any non-zero ProcessFile result fails the test.
std::vector<std::string> extractBook(const std::string& path, const std::string& folder);

// One entry of an open archive as the core shows it, with the bytes its extraction
// writes.
struct Shown {
    std::string name, id, contentType;
    std::int64_t packedSize = 0, size = 0;
    std::string bytes;
    bool operator==(const Shown&) const = default;
};

// Lists the archive to its end through the core, extracting every entry.
std::vector<Shown> showAll(BookArchive& archive);

}  // namespace vellum::test
