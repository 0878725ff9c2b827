// Bytes as a book, read two ways: as an open archive reads it (from its bytes where
// it can be sure) and through the document tree alone. Wherever the tree reads the
// book, both must show the same entries (names, ids, content types, sizes) and
// extract the same bytes; recognition must agree with opening; and a book the tree
// refuses but that opens shows only entries whose extraction writes their size.
#include "core/book_archive.h"
#include "core/extraction.h"
#include "core/listing.h"
#include "fuzz_support.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace vellum;
using namespace vellum::fuzz;

namespace {

struct Shown {
    std::string name, id, contentType;
    std::int64_t packedSize = 0, size = 0;
    std::string bytes;  // what an extraction wrote
    bool operator==(const Shown&) const = default;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Shown> show(BookArchive& archive) {
    const std::string target = scratchFile("entry");
    std::vector<Shown> shown;
    EntryDescription entry;
    while (readHeader(archive, entry) == Status::ok && entry.kind == platform::EntryKind::binary) {
        require(extractEntry(archive, "", &target, nullptr) == Status::ok, "a listed entry does not extract");
        Shown one{entry.name, entry.id, entry.contentType, entry.packedSize, entry.size, readAll(target)};
        require(static_cast<std::int64_t>(one.bytes.size()) == entry.size, "an extraction wrote other than the size");
        shown.push_back(std::move(one));
        removePath(target);
    }
    return shown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string book = scratchFile("book.fb2");
    writeBytes(book, data, size);
    std::unique_ptr<BookArchive> opened, tree;
    const Status openStatus = openBookArchive(book, opened);
    require(isBook(book) == (openStatus == Status::ok), "recognition and opening disagree");
    if (openBookThroughTree(book, tree) != Status::ok) {
        if (opened) show(*opened);
        return 0;
    }
    require(openStatus == Status::ok, "a book the tree reads does not open");
    require(show(*opened) == show(*tree), "the book's bytes and the tree show different entries");
    return 0;
}
