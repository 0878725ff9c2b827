#include "core/extraction.h"

#include "book/base64.h"
#include "book/binary_entry.h"

#include <algorithm>
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

// Decodes Base64 `text` into a new file at `targetPath`.
Status decodeBinaryToFile(std::string_view text, const std::string& targetPath, ProgressSink* progress) {
    // Allocated before the file exists: running out of memory must not leave an
    // empty file behind.
    std::vector<unsigned char> block(kProgressBlock);
    ProgressReporter reporter(progress, targetPath);
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return Status::closeFailed;

    // One write and one report per block. A block the decoder does not fill is the
    // last: the bytes of an unfinished last group (k characters give k - 1 bytes)
    // join it, so a file's reports add up to its size.
    Base64Decoder decoder(text);
    for (bool more = true; more;) {
        std::size_t n = decoder.next(block.data(), block.size());
        more = n == block.size();
        if (!more) n += decoder.tail(block.data() + n);
        if (n == 0) break;
        if (!platform::writeAll(file, block.data(), n)) return discard(file, targetPath, Status::writeFailed);
        if (!reporter.tell(static_cast<std::int64_t>(n))) return discard(file, targetPath, Status::aborted);
    }
    if (!file.close()) return discard(file, targetPath, Status::writeFailed);
    return Status::ok;
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
        Node node = currentElement(archive);
        if (!node) return Status::badData;
        ElementText text;
        if (!elementText(node, text, Utf16Length::skip)) return Status::badData;
        if (target == nullptr) return Status::closeFailed;
        return decodeBinaryToFile(text.text, *target, progress);
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
