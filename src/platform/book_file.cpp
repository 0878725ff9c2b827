// A book's save, written once over the system calls of book_file_system.h.
#include "platform/book_file.h"

#include "platform/book_file_system.h"
#include "platform/book_journal.h"
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
// bytes it will replace go into a journal, flushed, and only then is the book
// written from its first changed byte, cut to length and flushed, and the journal
// removed. The space is reserved first where the file system can, so that a full
// disk is met before any byte changes; a book that grows gets its new length at
// once, so that a run stopped anywhere leaves the old length or the new one, as the
// journal's play-back expects. The old content is not held: the journal restores it.
bool overwriteBook(const system::BookPlace& book, const BookProducer& produce) {
    std::optional<std::string> content = collectContent(produce);
    if (!content) return false;
    system::OpenedBook opened = system::openInPlace(book);
    if (!opened.file.isOpen()) return false;
    const File& file = opened.file;
    std::optional<JournalHeader> plan = planOverwrite(book, file, opened.size, *content);
    if (!plan) return false;
    const std::uint64_t oldSize = plan->oldSize, newSize = plan->newSize, offset = plan->offset;
    if (offset == oldSize && oldSize == newSize) return true;  // the book holds the content already
    std::optional<Journal> journal = Journal::write(book, file, *plan);
    if (!journal || faultHit(Fault::halt)) return false;

    const char* data = content->data();
    const std::uint64_t middle = offset + (newSize - offset) / 2;
    auto write = [&](std::uint64_t from, std::uint64_t to) {
        return system::writeAt(file, data + from, static_cast<std::size_t>(to - from), from);
    };
    bool ok = !faultHit(Fault::reserve) && system::reserve(file, oldSize, newSize) &&
              (newSize <= oldSize || system::setEnd(file, newSize)) && write(offset, middle);
    if (ok && faultHit(Fault::halt)) return false;
    ok = ok && write(middle, newSize) && (newSize >= oldSize || system::setEnd(file, newSize));
    if (ok && faultHit(Fault::halt)) return false;
    if (!ok || !flushToDisk(file)) {
        journal->rollBack(file);
        return false;
    }
    if (faultHit(Fault::halt)) return false;
    // Writing drops the set-id bits of a book whose writer lacks the privilege; its
    // owner may set them again.
    system::keepMode(book, file);
    journal->remove();
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
