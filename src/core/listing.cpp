#include "core/listing.h"

#include "core/entry_names.h"

#include <algorithm>
#include <cstdio>

namespace vellum {

void appendIndexLine(std::string& indexText, const BinaryEntry& entry) {
    std::string id(boundName(platform::toHostText(entry.id)));
    std::string contentType(boundName(platform::toHostText(entry.contentType)));
    char size[16];
    std::snprintf(size, sizeof size, "%d", static_cast<int>(std::min<std::int64_t>(entry.decodedSize, INT32_MAX)));
    indexText += id;
    indexText.append(id.size() < 13 ? 13 - id.size() : 1, ' ');
    indexText += size;
    indexText += ' ';
    indexText += contentType;
    indexText += "\r\n";
}

Status readHeader(BookArchive& archive, EntryDescription& entry) {
    if (archive.listingPhase == 1) {
        archive.listingPhase = 2;
        return Status::endArchive;
    }
    if (archive.listingPhase != 0) return Status::endArchive;

    if (!archive.binaries) {
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

    if (archive.binaries) {
        for (; archive.currentIndex < archive.binaryCount; ++archive.currentIndex) {
            Node node;
            if (!nodeListItem(archive.binaries, archive.currentIndex, node) || !node) continue;
            BinaryEntry binary;
            if (!readBinaryEntry(binary, node, false)) continue;
            entry = EntryDescription{safeEntryName(binary.id), false, binary.textLength, binary.decodedSize};
            appendIndexLine(archive.indexText, binary);
            return Status::ok;
        }
    }

    archive.binaries.reset();
    archive.listingPhase = 1;
    archive.currentIndex = 0;
    archive.binaryCount = 0;
    entry = EntryDescription{std::string(kIndexName), true, 0, static_cast<std::int64_t>(archive.indexText.size())};
    return Status::ok;
}

}  // namespace vellum
