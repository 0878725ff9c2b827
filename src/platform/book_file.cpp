// A book's save, written once over the system calls of book_file_system.h.
#include "platform/book_file.h"

#include "platform/book_file_system.h"
#include "platform/fault_seam.h"

#include <algorithm>
#include <optional>
#include <string>

namespace vellum::platform {

namespace {

// The whole non-empty content `produce` writes, collected in memory.
std::optional<std::string> collectContent(const BookProducer& produce) {
    std::string content;
    BookWriter collect = [&](const void* data, std::size_t size) {
        try {
            content.append(static_cast<const char*>(data), size);
            return true;
        } catch (...) {
            return false;
        }
    };
    if (!produce(collect) || content.empty()) return std::nullopt;
    return content;
}

// The `size` bytes of `file` from where it stands; none when they cannot be read or
// the file holds more.
std::optional<std::string> readWhole(const File& file, std::size_t size) {
    std::string out(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        std::uint32_t got = 0;
        auto want = static_cast<std::uint32_t>(std::min<std::size_t>(size - done, 1u << 30));
        if (!readSome(file, out.data() + done, want, got) || got == 0) return std::nullopt;
        done += got;
    }
    std::uint32_t more = 0;
    char probe;
    if (!readSome(file, &probe, 1, more) || more != 0) return std::nullopt;  // the file grew meanwhile
    return out;
}

enum class Outcome { saved, failed, inPlace };

// A new file standing for the book takes its place in one step; `inPlace` when no
// new file can stand for it here.
Outcome replaceBook(const system::BookPlace& book, const BookProducer& produce) {
    system::removeLeftovers(book.folder);
    if (faultHit(Fault::create)) return Outcome::failed;
    system::NewFile temp;
    switch (system::makeNewFile(book.folder, temp)) {
    case system::NewFileResult::made:
        break;
    case system::NewFileResult::denied:
        // A folder the user cannot write to still lets the book itself be written.
        return Outcome::inPlace;
    case system::NewFileResult::failed:
        return Outcome::failed;
    }
    if (faultHit(Fault::carry) || !system::carryOver(book, temp)) return Outcome::inPlace;
    BookWriter write = [&](const void* data, std::size_t size) { return writeAll(temp.file, data, size); };
    if (!produce(write) || !system::keepMode(book, temp.file) || !flushToDisk(temp.file) ||
        !system::finishNewFile(temp) || faultHit(Fault::rename) || !system::putInPlace(book, temp))
        return Outcome::failed;
    return Outcome::saved;
}

// The book itself is overwritten: the new content is complete in memory first, the
// space is reserved, and only then is the book written from its start.
bool overwriteBook(const system::BookPlace& book, const BookProducer& produce) {
    std::optional<std::string> content = collectContent(produce);
    if (!content) return false;
    system::OpenedBook opened = system::openInPlace(book);
    if (!opened.file.isOpen()) return false;
    const File& file = opened.file;
    // The old content, to be written back should the book's writing fail halfway.
    std::optional<std::string> old = readWhole(file, static_cast<std::size_t>(opened.size));
    if (!old) return false;
    const std::uint64_t oldSize = old->size();
    const std::uint64_t newSize = content->size();

    // Reserving: where the file system can, the space for the new size; where the
    // book grows, its new tail is written first, so that a full disk or a size limit
    // is met before any byte of the book changes.
    if (faultHit(Fault::reserve) || !system::reserve(file, oldSize, newSize) ||
        (newSize > oldSize &&
         !system::writeAt(file, content->data() + oldSize, static_cast<std::size_t>(newSize - oldSize), oldSize))) {
        system::setEnd(file, oldSize);  // gives back what was reserved
        return false;
    }
    if (!system::writeAt(file, content->data(), static_cast<std::size_t>(std::min(newSize, oldSize)), 0) ||
        (newSize < oldSize && !system::setEnd(file, newSize)) || !flushToDisk(file)) {
        if (system::writeAt(file, old->data(), old->size(), 0) && system::setEnd(file, oldSize)) flushToDisk(file);
        return false;
    }
    // Writing drops the set-id bits of a book whose writer lacks the privilege; its
    // owner may set them again.
    system::keepMode(book, file);
    return true;
}

}  // namespace

bool saveBookFile(const char* path, const BookProducer& produce) {
    if (path == nullptr) return false;
    // The book a symbolic link names is the one saved; the link stays as it is.
    std::optional<system::BookPlace> book = system::findBook(path);
    if (!book) return false;
    // A new file cannot stand for one of several names of a book.
    if (book->links == 1) {
        Outcome outcome = replaceBook(*book, produce);
        if (outcome != Outcome::inPlace) return outcome == Outcome::saved;
    }
    return overwriteBook(*book, produce);
}

}  // namespace vellum::platform
