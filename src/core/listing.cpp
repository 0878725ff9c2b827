#include "core/listing.h"

#include "book/binary_entry.h"
#include "core/entry_names.h"

namespace vellum {

namespace {

// The next accepted element of the document's node list, or false at its end.
bool nextElement(BookArchive& archive, EntryDescription& entry) {
    if (!archive.listingBegun) {
        archive.listingBegun = true;
        NodeList list;
        std::int32_t length = 0;
        if (selectNodes(archive.document, "//FictionBook/binary", list) && nodeListLength(list, length)) {
            archive.binaries = std::move(list);
            archive.binaryCount = length;
            archive.currentIndex = 0;
        }
    } else {
        ++archive.currentIndex;
    }
    if (!archive.binaries) return false;
    for (; archive.currentIndex < archive.binaryCount; ++archive.currentIndex) {
        Node node;
        if (!nodeListItem(archive.binaries, archive.currentIndex, node) || !node) continue;
        std::optional<BinaryEntry> binary = readBinaryEntry(node, EntrySizes::count);
        if (!binary) continue;
        entry = EntryDescription{platform::EntryKind::binary, safeEntryName(binary->id), std::move(binary->id),
                                 std::move(binary->contentType), binary->textLength, binary->decodedSize};
        return true;
    }
    return false;
}

// The next entry the book's bytes gave, or false at the end.
bool nextScanned(BookArchive& archive, EntryDescription& entry) {
    if (archive.listingBegun) ++archive.currentIndex;
    archive.listingBegun = true;
    const std::vector<ReadEntry>& entries = archive.reading.entries;
    if (static_cast<std::size_t>(archive.currentIndex) >= entries.size()) return false;
    const ReadEntry& read = entries[static_cast<std::size_t>(archive.currentIndex)];
    entry = EntryDescription{platform::EntryKind::binary, safeEntryName(read.id), read.id, read.contentType,
                             read.textLength, read.decodedSize};
    return true;
}

}  // namespace

Status readHeader(BookArchive& archive, EntryDescription& entry) {
    if (archive.listingPhase == ListingPhase::indexDelivered) {
        archive.listingPhase = ListingPhase::ended;
        return Status::endArchive;
    }
    if (archive.listingPhase == ListingPhase::ended) return Status::endArchive;
    if (archive.fromBytes ? nextScanned(archive, entry) : nextElement(archive, entry)) return Status::ok;

    archive.binaries.reset();
    archive.listingPhase = ListingPhase::indexDelivered;
    archive.currentIndex = 0;
    archive.binaryCount = 0;
    entry = EntryDescription{platform::EntryKind::index, std::string(kIndexName), {}, {}, 0, 0};
    return Status::ok;
}

}  // namespace vellum
