#include "replace/pack_files.h"

#include "book/binary_entry.h"
#include "book/book_splice.h"
#include "book/document.h"
#include "platform/platform.h"
#include "plugin/wcx.h"
#include "replace/base64_encode.h"
#include "replace/history_note.h"

#include <cstring>
#include <string>
#include <vector>

namespace vellum {

namespace {

constexpr std::size_t kPathBuffer = 33000;

// The first accepted element whose id equals `name` without regard to case, and its
// index in the list (-1 when there is none).
Node findElement(const NodeList& binaries, const char* name, std::int32_t& index) {
    index = -1;
    std::int32_t length = 0;
    if (!nodeListLength(binaries, length)) return Node();
    for (std::int32_t i = 0; i < length; ++i) {
        Node node;
        if (!nodeListItem(binaries, i, node)) return Node();
        if (!node) continue;
        BinaryEntry entry{};
        if (readBinaryEntry(entry, node, 1) && platform::equalIgnoringCase(entry.id, name)) {
            index = i;
            return node;
        }
    }
    return Node();
}

// Writes the book spliced from its own bytes into `temp`; declined when that cannot
// be done with certainty.
SpliceResult spliceInto(const char* packedFile, const BookEdits& edits, const char* temp) {
    platform::File file = platform::createForWriting(temp);
    if (!file.isOpen()) return SpliceResult::writeFailed;
    SpliceResult result = spliceBook(packedFile, edits, [&](const void* data, std::size_t size) {
        return platform::writeAll(file, data, size);
    });
    if (result == SpliceResult::spliced && (!platform::flushToDisk(file) || !file.close()))
        return SpliceResult::writeFailed;
    return result;
}

// Writes the book beside itself, then puts it in its place: spliced from the book's
// own bytes when the edits allow it, else serialised from the document.
int saveInPlace(const BookDocument& document, const BookEdits* edits, const char* packedFile) {
    if (platform::isReadOnly(packedFile)) return E_EWRITE;
    std::string temp = platform::reserveTempBeside(packedFile);
    if (temp.empty()) return E_EWRITE;
    bool saved = false;
    try {
        SpliceResult spliced = edits != nullptr ? spliceInto(packedFile, *edits, temp.c_str()) : SpliceResult::declined;
        saved = spliced == SpliceResult::spliced ||
                (spliced == SpliceResult::declined && saveBook(document, temp.c_str()));
    } catch (...) {
        platform::removeFile(temp.c_str());
        throw;
    }
    if (!saved || !platform::replaceFile(temp.c_str(), packedFile)) {
        platform::removeFile(temp.c_str());
        return E_EWRITE;
    }
    return 0;
}

}  // namespace

int packFiles(const char* packedFile, const char* subPath, const char* srcPath, const char* addList, int flags) {
    if (packedFile == nullptr || srcPath == nullptr || addList == nullptr) return E_EOPEN;
    BookDocument document = loadBook(packedFile);
    if (!document) return E_EOPEN;
    if (subPath != nullptr) return E_NOT_SUPPORTED;
    NodeList binaries;
    if (!selectNodes(document, "//FictionBook/binary", binaries) || !binaries) return E_NO_FILES;

    std::int32_t replaced = 0;
    std::vector<std::string> putIn;  // source files now held by the book
    std::int32_t count = 0;
    std::vector<bool> replacedAt(nodeListLength(binaries, count) ? static_cast<std::size_t>(count) : 0);
    for (const char* name = addList; *name != '\0'; name += std::strlen(name) + 1) {
        if (std::strchr(name, '\\') != nullptr) return E_NOT_SUPPORTED;
        if (platform::equalIgnoringCase(name, "files.bbs")) {
            ++replaced;
            continue;
        }
        std::string source = std::string(srcPath) + name;
        // A path the host's buffer cannot hold is refused like a name with a backslash.
        if (source.size() > kPathBuffer - 1) return E_NOT_SUPPORTED;
        std::int32_t index = -1;
        Node element = findElement(binaries, name, index);
        if (!element) continue;
        if (int result = encodeFileIntoBinary(element, source.c_str()); result != 0) return result;
        if (static_cast<std::size_t>(index) < replacedAt.size()) replacedAt[static_cast<std::size_t>(index)] = true;
        ++replaced;
        putIn.push_back(std::move(source));
    }
    BookEdits edits;
    bool editsKnown = collectBinaryEdits(binaries, replacedAt, edits);
    binaries.reset();

    appendHistoryNote(document, replaced, &edits.note);
    if (int result = saveInPlace(document, editsKnown ? &edits : nullptr, packedFile); result != 0) return result;
    document.reset();

    // Only files the book now holds are deleted; names that matched nothing stay.
    if ((flags & PK_PACK_MOVE_FILES) != 0)
        for (const std::string& source : putIn) platform::removeFile(source.c_str());
    return 0;
}

}  // namespace vellum
