#include "core/pack_run.h"

#include "book/binary_entry.h"
#include "book/document.h"
#include "book/history_note.h"
#include "core/entry_names.h"
#include "core/file_encoder.h"
#include "platform/platform.h"

namespace vellum {

namespace {

// The first accepted element that `name` names, without regard to case: by its id,
// or by the name the host's listing shows for it (a safe name, cut to the host's
// field), so every entry the host lists can be replaced under its listed name.
Node findElement(const NodeList& binaries, const PackRequest& request, const std::string& name) {
    std::int32_t length = 0;
    if (!nodeListLength(binaries, length)) return Node();
    for (std::int32_t i = 0; i < length; ++i) {
        Node node;
        if (!nodeListItem(binaries, i, node)) return Node();
        if (!node) continue;
        BinaryEntry entry;
        if (!readBinaryEntry(entry, node, true)) continue;
        if (platform::sameName(entry.id, name)) return node;
        std::string listed = safeEntryName(entry.id);
        if (request.shownName != nullptr) listed = request.shownName(listed);
        if (platform::sameName(listed, name)) return node;
    }
    return Node();
}

// Writes the document beside the book, then puts it in the book's place.
Status saveInPlace(const BookDocument& document, const std::string& packedFile) {
    if (platform::isReadOnly(packedFile.c_str())) return Status::writeFailed;
    std::string temp = platform::reserveTempBeside(packedFile.c_str());
    if (temp.empty()) return Status::writeFailed;
    if (!saveBook(document, temp.c_str()) || !platform::replaceFile(temp.c_str(), packedFile.c_str())) {
        platform::removeFile(temp.c_str());
        return Status::writeFailed;
    }
    return Status::ok;
}

}  // namespace

Status packFiles(const PackRequest& request) {
    BookDocument document = loadBook(request.book.c_str());
    if (!document) return Status::openFailed;
    if (request.subPath) return Status::notSupported;
    NodeList binaries;
    if (!selectNodes(document, "//FictionBook/binary", binaries) || !binaries) return Status::noFiles;

    std::vector<const std::string*> putIn;  // source files now held by the book
    for (const PackName& item : request.names) {
        if (item.refused) return Status::notSupported;
        // The index is generated from the book: there is nothing to put it into.
        if (platform::sameName(item.name, kIndexName)) continue;
        if (item.pathTooLong) return Status::notSupported;
        Node element = findElement(binaries, request, item.name);
        if (!element) continue;
        if (Status status = encodeFileIntoBinary(element, item.sourcePath, request.progress); status != Status::ok)
            return status;
        putIn.push_back(&item.sourcePath);
    }
    binaries.reset();
    // A run that put nothing in (no name matched, only folders or the index, an
    // empty list) leaves the book as it was: no note, no save.
    if (putIn.empty()) return Status::ok;

    appendHistoryNote(document, static_cast<std::int32_t>(putIn.size()));
    if (Status status = saveInPlace(document, request.book); status != Status::ok) return status;
    document.reset();

    // Only files the book now holds are deleted; names that matched nothing stay.
    if (request.moveFiles)
        for (const std::string* source : putIn) platform::removeFile(source->c_str());
    return Status::ok;
}

}  // namespace vellum
