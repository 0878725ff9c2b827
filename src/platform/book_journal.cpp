// The rollback journal of an in-place save, and its play-back by the next open.
#include "platform/book_journal.h"

#include "platform/book_file.h"
#include "platform/fault_seam.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace vellum::platform {

namespace {

constexpr char kMagic[8] = {'\x89', 'v', 'e', 'l', 'l', 'u', 'm', 'J'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 88;
constexpr std::size_t kBlock = 1 << 20;

// A 64-bit checksum of bytes given in pieces of any size: four lanes of
// multiply-and-rotate over 8-byte words (read in the machine's order, little-endian
// on every target), folded with the length at the end. It tells a torn or damaged
// journal, or a book that changed, from the right one; it is no guard against a
// journal forged on purpose.
class Checksum {
public:
    void add(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        total_ += size;
        if (pending_ > 0) {
            std::size_t take = std::min(size, sizeof buffer_ - pending_);
            std::memcpy(buffer_ + pending_, p, take);
            pending_ += take;
            p += take;
            size -= take;
            if (pending_ < sizeof buffer_) return;
            round(buffer_);
            pending_ = 0;
        }
        for (; size >= sizeof buffer_; p += sizeof buffer_, size -= sizeof buffer_) round(p);
        std::memcpy(buffer_, p, size);
        pending_ = size;
    }
    std::uint64_t value() const {
        std::uint64_t h = mix(total_ * kPrime1);
        for (std::uint64_t lane : lanes_) h = mix(h ^ lane);
        for (std::size_t i = 0; i < pending_; ++i) h = mix(h ^ buffer_[i]);
        return h;
    }

private:
    static constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full;
    static std::uint64_t mix(std::uint64_t h) {
        h = (h ^ (h >> 33)) * kPrime2;
        h = (h ^ (h >> 29)) * kPrime1;
        return h ^ (h >> 32);
    }
    void round(const unsigned char* block) {
        for (int i = 0; i < 4; ++i) {
            std::uint64_t word;
            std::memcpy(&word, block + 8 * i, 8);
            std::uint64_t lane = lanes_[i] + word * kPrime2;
            lanes_[i] = ((lane << 31) | (lane >> 33)) * kPrime1;
        }
    }
    std::uint64_t lanes_[4] = {1, 2, 3, 4};
    unsigned char buffer_[32] = {};
    std::size_t pending_ = 0;
    std::uint64_t total_ = 0;
};

std::uint64_t sumOf(const void* data, std::size_t size) {
    Checksum sum;
    sum.add(data, size);
    return sum.value();
}

using HeaderBytes = std::array<unsigned char, kHeaderSize>;

void put(unsigned char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
std::uint64_t get(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

// The eight numbers of a header, in their order on disk.
std::array<std::uint64_t*, 8> fieldsOf(JournalHeader& h) {
    return {&h.device, &h.file, &h.oldSize, &h.newSize, &h.offset, &h.prefixSum, &h.newSum, &h.savedSum};
}

HeaderBytes encode(JournalHeader header) {
    HeaderBytes bytes{};
    std::memcpy(bytes.data(), kMagic, sizeof kMagic);
    put(&bytes[8], kVersion, 4);
    put(&bytes[12], kHeaderSize, 4);
    int at = 16;
    for (std::uint64_t* field : fieldsOf(header)) put(&bytes[at], *field, 8), at += 8;
    put(&bytes[at], sumOf(bytes.data(), at), 8);
    return bytes;
}

std::optional<JournalHeader> decode(const HeaderBytes& bytes) {
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 || get(&bytes[8], 4) != kVersion ||
        get(&bytes[12], 4) != kHeaderSize || get(&bytes[80], 8) != sumOf(bytes.data(), 80))
        return std::nullopt;
    JournalHeader header;
    int at = 16;
    for (std::uint64_t* field : fieldsOf(header)) *field = get(&bytes[at], 8), at += 8;
    if (header.offset > header.oldSize || header.offset > header.newSize) return std::nullopt;
    return header;
}

std::string journalName(std::uint64_t device, std::uint64_t file) {
    char name[64];
    std::snprintf(name, sizeof name, ".vellum-journal-%016llx-%016llx", static_cast<unsigned long long>(device),
                  static_cast<unsigned long long>(file));
    return name;
}

// Copies `size` bytes of `from` at `fromAt` to `to` at `toAt`, a block at a time,
// adding them to `sum` when there is one.
bool copyBytes(const File& from, std::uint64_t fromAt, const File& to, std::uint64_t toAt, std::uint64_t size,
               std::vector<char>& block, Checksum* sum) {
    for (std::uint64_t done = 0; done < size;) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        if (!system::readAt(from, block.data(), n, fromAt + done) ||
            !system::writeAt(to, block.data(), n, toAt + done))
            return false;
        if (sum != nullptr) sum->add(block.data(), n);
        done += n;
    }
    return true;
}

// The checksum of `size` bytes of `file` from `offset`; none when they cannot be read.
std::optional<std::uint64_t> sumOfFile(const File& file, std::uint64_t offset, std::uint64_t size,
                                       std::vector<char>& block) {
    Checksum sum;
    for (std::uint64_t done = 0; done < size;) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        if (!system::readAt(file, block.data(), n, offset + done)) return std::nullopt;
        sum.add(block.data(), n);
        done += n;
    }
    return sum.value();
}

// Puts the saved bytes back, cuts the book to its old length and flushes it.
bool playBack(const File& book, const File& journal, const JournalHeader& header, std::vector<char>& block) {
    return copyBytes(journal, kHeaderSize, book, header.offset, header.oldSize - header.offset, block, nullptr) &&
           system::setEnd(book, header.oldSize) && flushToDisk(book);
}

// The header of a complete journal: its size and both checksums agree. None for
// one that is torn or damaged, which no write of the book followed.
std::optional<JournalHeader> readComplete(const File& journal, std::vector<char>& block) {
    HeaderBytes bytes;
    std::uint64_t size = 0;
    if (!system::readAt(journal, bytes.data(), bytes.size(), 0) || !fileSize(journal, size)) return std::nullopt;
    std::optional<JournalHeader> header = decode(bytes);
    if (!header || size != kHeaderSize + (header->oldSize - header->offset) ||
        sumOfFile(journal, kHeaderSize, size - kHeaderSize, block) != header->savedSum)
        return std::nullopt;
    return header;
}

// What the book is, set against a complete journal found for it.
enum class BookState {
    unknown,      // it cannot be read
    old,          // whole as before the save: the save had not begun to write it, or was played back
    fresh,        // whole with the new content: the save ended, its journal's removal was lost
    halfWritten,  // to be played back
    other,        // not the file the journal saved, or changed since by someone else
};

BookState judge(const system::BookPlace& book, const JournalHeader& h, std::vector<char>& block) {
    if (h.device != book.device || h.file != book.file) return BookState::other;
    File file = openForReading(book.path.c_str());
    std::uint64_t size = 0;
    if (!file.isOpen() || !fileSize(file, size)) return BookState::unknown;
    // An interrupted overwrite leaves the old length or the new one: a book that
    // grows gets its new length before any write, one that shrinks is cut last.
    if (size != h.oldSize && size != h.newSize) return BookState::other;
    std::optional<std::uint64_t> prefix = sumOfFile(file, 0, h.offset, block);
    if (!prefix) return BookState::unknown;
    if (*prefix != h.prefixSum) return BookState::other;  // the save never writes there
    std::optional<std::uint64_t> rest = sumOfFile(file, h.offset, size - h.offset, block);
    if (!rest) return BookState::unknown;
    if (size == h.oldSize && *rest == h.savedSum) return BookState::old;
    if (size == h.newSize && *rest == h.newSum) return BookState::fresh;
    return BookState::halfWritten;
}

// Settles the journal at `path` in `folder`, found for `book` under its writer lock.
// False when the book is left in doubt: the journal or the book cannot be read, or
// a half-written book cannot be written back.
bool settle(const system::BookPlace& book, const std::string& folder, const std::string& path) {
    std::vector<char> block(kBlock);
    File journal = openForReading(path.c_str());
    if (!journal.isOpen()) return !system::exists(path);
    // One that someone who may not write the book could have made is left alone.
    if (!system::journalTrusted(journal, book)) return true;
    std::optional<JournalHeader> header = readComplete(journal, block);
    if (header) {
        BookState state = judge(book, *header, block);
        if (state == BookState::unknown) return false;
        if (state == BookState::halfWritten) {
            system::OpenedBook opened = system::openInPlace(book);
            if (!opened.file.isOpen() || !playBack(opened.file, journal, *header, block)) return false;
        }
    }
    journal.close();
    // A reader that may not remove it still has the book whole.
    system::removeJournalFile(folder, path);
    return true;
}

}  // namespace

std::optional<JournalHeader> planOverwrite(const system::BookPlace& book, const File& file, std::uint64_t oldSize,
                                           std::string_view content) {
    JournalHeader plan;
    plan.device = book.device;
    plan.file = book.file;
    plan.oldSize = oldSize;
    plan.newSize = content.size();
    std::vector<char> block(kBlock);
    Checksum prefix;
    const std::uint64_t common = std::min<std::uint64_t>(oldSize, content.size());
    std::uint64_t at = 0;
    while (at < common) {
        auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, common - at));
        if (!system::readAt(file, block.data(), n, at)) return std::nullopt;
        auto same = static_cast<std::size_t>(
            std::mismatch(block.data(), block.data() + n, content.data() + at).first - block.data());
        prefix.add(block.data(), same);
        at += same;
        if (same < n) break;
    }
    plan.offset = at;
    plan.prefixSum = prefix.value();
    plan.newSum = sumOf(content.data() + at, static_cast<std::size_t>(content.size() - at));
    return plan;
}

std::optional<Journal> Journal::write(const system::BookPlace& book, const File& file, const JournalHeader& header) {
    Journal journal;
    journal.header_ = header;
    journal.block_.resize(kBlock);
    const std::string name = journalName(book.device, book.file);
    auto makeIn = [&](std::string folder) {
        if (folder.empty()) return false;
        journal.folder_ = std::move(folder);
        journal.path_ = system::inFolder(journal.folder_, name);
        journal.file_ = system::makeJournalFile(journal.path_, book);
        return journal.file_.isOpen();
    };
    // Beside the book where its folder takes a new file, else in the user's own
    // state folder, made only then: a folder the user may not write to, a sticky
    // folder where another user's file has the name.
    if (!makeIn(faultHit(Fault::create) ? std::string() : book.folder) && !makeIn(system::makeStateFolder()))
        return std::nullopt;
    Checksum saved;
    if (copyBytes(file, header.offset, journal.file_, kHeaderSize, header.oldSize - header.offset, journal.block_,
                  &saved)) {
        journal.header_.savedSum = saved.value();
        HeaderBytes bytes = encode(journal.header_);
        if (system::writeAt(journal.file_, bytes.data(), bytes.size(), 0) && flushToDisk(journal.file_)) {
            system::flushFolder(journal.folder_);
            return journal;
        }
    }
    journal.remove();
    return std::nullopt;
}

bool Journal::rollBack(const File& book) noexcept {
    if (!playBack(book, file_, header_, block_)) return false;
    remove();
    return true;
}

void Journal::remove() noexcept {
    file_.close();
    try {
        system::removeJournalFile(folder_, path_);
    } catch (...) {
        // Left behind, it is removed by the next open, which finds the book whole.
    }
}

bool settleBook(const char* path) {
    if (path == nullptr) return true;
    std::optional<system::BookPlace> book = system::findBook(path);
    if (!book) return true;  // the open tells of a missing book itself
    const std::string state = system::stateFolder();
    auto places = [&](const system::BookPlace& of) {
        const std::string name = journalName(of.device, of.file);
        std::vector<std::pair<std::string, std::string>> found;
        for (const std::string& folder : {of.folder, state})
            if (!folder.empty() && system::exists(system::inFolder(folder, name)))
                found.emplace_back(folder, system::inFolder(folder, name));
        return found;
    };
    if (places(*book).empty()) return true;
    // The journal's save may still be running: under the writer lock, it is one
    // whose run ended.
    BookLock lock = lockBook(path);
    if (!lock.held()) return lock.state() == BookLock::State::cannotOpen;
    book = system::findBook(path);  // replaced meanwhile, it has another identity
    if (!book) return true;
    for (const auto& [folder, journal] : places(*book))
        if (!settle(*book, folder, journal)) return false;
    return true;
}

}  // namespace vellum::platform
