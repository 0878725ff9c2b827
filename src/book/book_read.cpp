#include "book/book_read.h"

#include <algorithm>

namespace vellum {

namespace {

// The content is read in blocks of this many bytes.
constexpr std::size_t kReadBlock = 1 << 18;

}  // namespace

FirstElement detectFirstElement(const char* path) {
    std::optional<BookScan> scan = scanBookFile(path, ScanPurpose::detection);
    return scan ? scan->firstElement : FirstElement::notXml;
}

bool readsAsTheTree(const BookScan& scan) {
    if (scan.firstElement != FirstElement::fictionBook || scan.damaged || scan.changesContent ||
        scan.encoding == BookEncoding::unsupported)
        return false;
    return std::all_of(scan.entries.begin(), scan.entries.end(),
                       [](const ReadEntry& entry) { return entry.exact && entry.plain; });
}

BookReading readingOf(BookScan&& scan) {
    BookReading reading;
    reading.size = scan.size;
    reading.modified = scan.modified;
    reading.encoding = scan.encoding;
    // Content with markup (a reference, a comment) is no picture the bytes hold: a
    // damaged book shows the binaries whole as written. A book that reads as the
    // tree has no such entry.
    std::erase_if(scan.entries, [](const ReadEntry& entry) { return !entry.plain; });
    reading.entries = std::move(scan.entries);
    return reading;
}

bool EntryDecoder::open(const char* path, const BookReading& book, const ReadEntry& entry) {
    file_ = platform::openForReading(path);
    std::uint64_t size = 0;
    if (!file_.isOpen() || !platform::fileSize(file_, size) || size != book.size || entry.contentEnd > size ||
        entry.contentStart > entry.contentEnd || !platform::seekTo(file_, entry.contentStart))
        return false;
    if (book.modified && platform::modifiedTime(file_) != book.modified) return false;
    wide_ = book.encoding == BookEncoding::utf16le || book.encoding == BookEncoding::utf16be;
    littleEndian_ = book.encoding == BookEncoding::utf16le;
    left_ = entry.contentEnd - entry.contentStart;
    block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left_, kReadBlock)));
    decoder_ = Base64Decoder();
    done_ = false;
    return true;
}

// The next block of content, handed to the decoder; false when the file cannot be
// read (or ends before the content does).
bool EntryDecoder::readMore() {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, block_.size()));
    if (!platform::readFully(file_, block_.data(), want)) return false;
    left_ -= want;
    std::size_t n = want;
    if (wide_) {
        // Only ASCII characters are Base64; any other unit stands as a byte the
        // decoder skips.
        n = want / 2;
        for (std::size_t i = 0; i < n; ++i) {
            const char16_t unit = utf16Unit(block_[2 * i], block_[2 * i + 1], littleEndian_);
            block_[i] = static_cast<unsigned char>(unit < 0x80 ? unit : 0x80);
        }
    }
    decoder_.more(std::string_view(reinterpret_cast<const char*>(block_.data()), n));
    return true;
}

std::optional<std::size_t> EntryDecoder::fill(unsigned char* out, std::size_t capacity) {
    std::size_t used = 0;
    while (!done_) {
        used += decoder_.next(out + used, capacity - used);
        if (used == capacity) break;
        // The piece is used up (or a "=" ended the text).
        if (decoder_.ended() || left_ == 0) {
            used += decoder_.tail(out + used);
            done_ = true;
            break;
        }
        if (!readMore()) return std::nullopt;
    }
    return used;
}

}  // namespace vellum
