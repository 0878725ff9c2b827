#include "core/extraction.h"

#include "book/base64.h"
#include "book/binary_entry.h"
#include "book/book_read.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace vellum {

namespace {

// A text file goes out in chunks of this size, each reported.
constexpr std::size_t kTextChunk = 65536;

// Closes and deletes a target that must not remain, and answers `status`.
Status discard(platform::File& file, const std::string& path, Status status) {
    file.close();
    platform::removeFile(path.c_str());
    return status;
}

Node currentElement(const BookArchive& archive) {
    Node node;
    if (!archive.binaries || !nodeListItem(archive.binaries, archive.currentIndex, node)) return Node();
    return node;
}

const ReadEntry* currentEntry(const BookArchive& archive) {
    const std::vector<ReadEntry>& entries = archive.reading.entries;
    if (!archive.listingBegun || static_cast<std::size_t>(archive.currentIndex) >= entries.size()) return nullptr;
    return &entries[static_cast<std::size_t>(archive.currentIndex)];
}

// Writes the bytes `fill` decodes into a new file at `targetPath`. `fill` puts the
// next bytes into a block: the whole block, or once the text is used up what is left
// with the bytes of an unfinished last group; 0 at the end; none when the book
// cannot be read.
template <typename Fill>
Status decodeToFile(Fill fill, const std::string& targetPath, ProgressSink* progress) {
    // Allocated before the file exists: running out of memory must not leave an
    // empty file behind.
    std::vector<unsigned char> block(kProgressBlock);
    ProgressReporter reporter(progress, targetPath);
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return Status::closeFailed;

    // One write and one report per block, so a file's reports add up to its size.
    for (bool more = true; more;) {
        std::optional<std::size_t> n = fill(block.data(), block.size());
        if (!n) return discard(file, targetPath, Status::readFailed);
        more = *n == block.size();
        if (*n == 0) break;
        if (!platform::writeAll(file, block.data(), *n)) return discard(file, targetPath, Status::writeFailed);
        if (!reporter.tell(static_cast<std::int64_t>(*n))) return discard(file, targetPath, Status::aborted);
    }
    if (!file.close()) return discard(file, targetPath, Status::writeFailed);
    return Status::ok;
}

// Decodes Base64 `text`, the element's text in the document, into a new file.
Status decodeTextToFile(std::string_view text, const std::string& targetPath, ProgressSink* progress) {
    Base64Decoder decoder(text);
    bool done = false;
    auto fill = [&](unsigned char* out, std::size_t capacity) -> std::optional<std::size_t> {
        if (done) return 0;
        std::size_t n = decoder.next(out, capacity);
        if (n == capacity) return n;
        done = true;
        return n + decoder.tail(out + n);
    };
    return decodeToFile(fill, targetPath, progress);
}

// Decodes an entry's content from the book's file into a new file.
Status decodeEntryToFile(const BookArchive& archive, const ReadEntry& entry, const std::string& targetPath,
                         ProgressSink* progress) {
    EntryDecoder decoder;
    if (!decoder.open(archive.path.c_str(), archive.reading, entry)) return Status::badData;
    auto fill = [&](unsigned char* out, std::size_t capacity) { return decoder.fill(out, capacity); };
    return decodeToFile(fill, targetPath, progress);
}

// Writes `text` into a new file at `targetPath`, one report per chunk.
Status writeTextFile(std::string_view text, const std::string& targetPath, ProgressSink* progress) {
    ProgressReporter reporter(progress, targetPath);  // before the file: it allocates
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return Status::openFailed;
    for (std::size_t done = 0; done < text.size();) {
        std::size_t chunk = std::min(text.size() - done, kTextChunk);
        if (!platform::writeAll(file, text.data() + done, chunk)) return discard(file, targetPath, Status::writeFailed);
        if (!reporter.tell(static_cast<std::int64_t>(chunk))) return discard(file, targetPath, Status::aborted);
        done += chunk;
    }
    if (!file.close()) return discard(file, targetPath, Status::writeFailed);
    return Status::ok;
}

}  // namespace

Status testEntry(const BookArchive& archive) {
    switch (archive.listingPhase) {
    case ListingPhase::binaries: {
        if (archive.fromBytes) return currentEntry(archive) != nullptr ? Status::ok : Status::badData;
        Node node = currentElement(archive);
        return node && readBinaryEntry(node, EntrySizes::skip) ? Status::ok : Status::badData;
    }
    case ListingPhase::indexDelivered:
        return Status::ok;
    case ListingPhase::ended:
        break;
    }
    return Status::badData;
}

Status extractEntry(const BookArchive& archive, std::string_view indexText, const std::string* target,
                    ProgressSink* progress) {
    switch (archive.listingPhase) {
    case ListingPhase::binaries: {
        if (archive.fromBytes) {
            const ReadEntry* entry = currentEntry(archive);
            if (entry == nullptr) return Status::badData;
            if (target == nullptr) return Status::closeFailed;
            return decodeEntryToFile(archive, *entry, *target, progress);
        }
        Node node = currentElement(archive);
        if (!node) return Status::badData;
        ElementText text;
        if (!elementText(node, text, Utf16Length::skip)) return Status::badData;
        if (target == nullptr) return Status::closeFailed;
        return decodeTextToFile(text.text, *target, progress);
    }
    case ListingPhase::indexDelivered:
        if (target == nullptr) return Status::openFailed;
        return writeTextFile(indexText, *target, progress);
    case ListingPhase::ended:
        break;
    }
    return Status::badData;
}

}  // namespace vellum
