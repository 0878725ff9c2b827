#include "replace/pack_files.h"

#include "book/binary_entry.h"
#include "book/document.h"
#include "platform/book_file.h"
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

// The first accepted element whose id equals `name` without regard to case.
Node findElement(const NodeList& binaries, const char* name) {
    std::int32_t length = 0;
    if (!nodeListLength(binaries, length)) return Node();
    for (std::int32_t i = 0; i < length; ++i) {
        Node node;
        if (!nodeListItem(binaries, i, node)) return Node();
        if (!node) continue;
        BinaryEntry entry{};
        if (readBinaryEntry(entry, node, 1) && platform::equalIgnoringCase(entry.id, name)) return node;
    }
    return Node();
}

// Puts the document into the book's own file.
int saveOverBook(const BookDocument& document, const char* packedFile) {
    if (platform::isReadOnly(packedFile)) return E_EWRITE;
    auto produce = [&](const platform::BookWriter& write) { return saveBook(document, write); };
    return platform::saveBookFile(packedFile, produce) ? 0 : E_EWRITE;
}

}  // namespace

int packFiles(const char* packedFile, const char* subPath, const char* srcPath, const char* addList, int flags) {
    if (packedFile == nullptr || srcPath == nullptr || addList == nullptr) return E_EOPEN;
    // One writer at a time, from the load to the end of the save, so that no other
    // run's changes are lost.
    platform::BookLock lock = platform::lockBook(packedFile);
    if (!lock.held()) return lock.state() == platform::BookLock::State::busy ? E_EWRITE : E_EOPEN;
    BookDocument document = loadBook(packedFile);
    if (!document) return E_EOPEN;
    if (subPath != nullptr) return E_NOT_SUPPORTED;
    NodeList binaries;
    if (!selectNodes(document, "//FictionBook/binary", binaries) || !binaries) return E_NO_FILES;

    std::int32_t replaced = 0;
    std::vector<std::string> putIn;  // source files now held by the book
    for (const char* name = addList; *name != '\0'; name += std::strlen(name) + 1) {
        if (std::strchr(name, '\\') != nullptr) return E_NOT_SUPPORTED;
        if (platform::equalIgnoringCase(name, "files.bbs")) {
            ++replaced;
            continue;
        }
        std::string source = std::string(srcPath) + name;
        // A path the host's buffer cannot hold is refused like a name with a backslash.
        if (source.size() > kPathBuffer - 1) return E_NOT_SUPPORTED;
        Node element = findElement(binaries, name);
        if (!element) continue;
        if (int result = encodeFileIntoBinary(element, source.c_str()); result != 0) return result;
        ++replaced;
        putIn.push_back(std::move(source));
    }
    binaries.reset();

    appendHistoryNote(document, replaced);
    if (int result = saveOverBook(document, packedFile); result != 0) return result;
    document.reset();

    // Only files the book now holds are deleted; names that matched nothing stay.
    if ((flags & PK_PACK_MOVE_FILES) != 0)
        for (const std::string& source : putIn) platform::removeFile(source.c_str());
    return 0;
}

}  // namespace vellum
