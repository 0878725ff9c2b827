#include "read/listing.h"

#include <cstdio>
#include <cstring>

namespace vellum {

namespace {

void copyName(char (&field)[260], const std::string& name) {
    std::size_t n = name.size() < sizeof field - 1 ? name.size() : sizeof field - 1;
    std::memcpy(field, name.data(), n);
    field[n] = '\0';
}

void describeElement(const BookArchive& archive, const BinaryEntry& entry, tHeaderData& header) {
    copyName(header.FileName, safeEntryName(entry.id));
    header.PackSize = entry.textLength;
    header.UnpSize = entry.decodedSize;
    header.FileCRC = 0;
    header.FileTime = static_cast<int>(platform::hostFileTime(archive.openTime));
    header.FileAttr = platform::hostFileAttr(false, header.FileAttr);
}

void describeIndexFile(const BookArchive& archive, tHeaderData& header) {
    copyName(header.FileName, "files.bbs");
    header.Flags = 0;
    header.PackSize = 0;
    header.UnpSize = static_cast<int>(archive.indexText.size());
    header.FileCRC = 0;
    header.FileTime = static_cast<int>(platform::hostFileTime(archive.openTime));
    header.FileAttr = platform::hostFileAttr(true, header.FileAttr);
}

}  // namespace

std::string safeEntryName(const char* id) {
    std::string name(id);
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = std::string("_").append(name);
    return name;
}

void appendIndexLine(std::string& indexText, const BinaryEntry& entry) {
    std::size_t nameLength = std::strlen(entry.id);
    char size[16];
    std::snprintf(size, sizeof size, "%d", entry.decodedSize);
    indexText += entry.id;
    indexText.append(nameLength < 13 ? 13 - nameLength : 1, ' ');
    indexText += size;
    indexText += ' ';
    indexText += entry.contentType;
    indexText += "\r\n";
}

int readHeader(BookArchive& archive, tHeaderData& header) {
    if (archive.listingPhase == 1) {
        archive.listingPhase = 2;
        return E_END_ARCHIVE;
    }
    if (archive.listingPhase != 0) return E_END_ARCHIVE;

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
            BinaryEntry entry{};
            if (readBinaryEntry(entry, node, 0) == 0) continue;
            describeElement(archive, entry, header);
            appendIndexLine(archive.indexText, entry);
            return 0;
        }
    }

    archive.binaries.reset();
    archive.listingPhase = 1;
    archive.currentIndex = 0;
    archive.binaryCount = 0;
    describeIndexFile(archive, header);
    return 0;
}

}  // namespace vellum
