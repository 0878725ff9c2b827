// The rollback journal of an in-place save: before the first byte of the book
// changes, the bytes the overwrite will replace (from the first byte that changes to
// the old end) go into a journal file with the old and new lengths and checksums, and
// the journal is flushed; the book is then written, cut to length and flushed; then
// the journal is removed. A journal found later (the run was killed, the system
// stopped) is played back by the next open (settleBook, book_file.h).
//
// Format (all numbers little-endian): the magic "\x89vellumJ", a 32-bit version (1)
// and header size (88), the book's device and file number, its old and new lengths,
// the offset of the first changed byte, the checksums of the book's bytes before
// that offset, of the new bytes from it and of the saved old bytes from it, and the
// checksum of all that; then the saved old bytes. Its name is `.vellum-journal-`
// followed by the device and the file number in hexadecimal; it lives beside the
// book where the folder takes it, else in the user's state folder.
#pragma once

#include "platform/book_file_system.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::platform {

// What a journal's header records.
struct JournalHeader {
    std::uint64_t device = 0;  // the book's identity
    std::uint64_t file = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::uint64_t offset = 0;     // the first byte the save changes
    std::uint64_t prefixSum = 0;  // the book's bytes before `offset`, which the save never writes
    std::uint64_t newSum = 0;     // the new bytes from `offset` to the new end
    std::uint64_t savedSum = 0;   // the old bytes from `offset` to the old end: the journal's body
};

// The plan of an in-place save of `content` over the `oldSize` bytes of `book`,
// opened as `file`: where the first byte changes and the checksums. None when the
// book cannot be read.
std::optional<JournalHeader> planOverwrite(const system::BookPlace& book, const File& file, std::uint64_t oldSize,
                                           std::string_view content);

// A journal written and flushed for a save in progress. Going, it closes its file
// and leaves it on disk: only remove() or a play-back ends it.
class Journal {
public:
    // Copies the bytes `header` plans to save from the book `file` into a new journal
    // (beside the book, else in the user's state folder) and flushes it and its
    // folder. None when no journal could be made: the book is untouched.
    static std::optional<Journal> write(const system::BookPlace& book, const File& file, const JournalHeader& header);

    // Puts the saved bytes back into the book, cuts it to its old length, flushes it
    // and removes the journal. False when the book could not be restored; the
    // journal then stays for the next open.
    bool rollBack(const File& book) noexcept;
    // Removes the journal once the book holds its new content and is flushed.
    void remove() noexcept;

private:
    Journal() = default;
    File file_;
    std::string folder_, path_;
    JournalHeader header_;
    std::vector<char> block_;  // reserved before the book changes, for the play-back
};

}  // namespace vellum::platform
