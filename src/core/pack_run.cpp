#include "core/pack_run.h"

#include "book/binary_entry.h"
#include "book/book_splice.h"
#include "book/document.h"
#include "book/history_note.h"
#include "core/entry_names.h"
#include "core/file_encoder.h"
#include "platform/book_file.h"
#include "platform/platform.h"
#include "text/system_text.h"
#include "text/unicode.h"

namespace vellum {

namespace {

// An accepted element as the host may name it: by its id, or by the name the host's
// listing shows for it (a safe name, cut to the host's field).
struct Candidate {
    std::int32_t index;
    std::string id;  // empty when too long to be any name a host hands over
    std::string listed;
};

// `name` as a record bounded so lists it, back in UTF-8: what the host hands over for it.
std::string listedAs(std::string_view name, NameBound bound) {
    if (bound.unit == NameBound::Unit::utf16Unit)
        return text::utf8FromUtf16(text::cutUtf16(text::utf16FromUtf8(name), bound.limit));
    return text::fromCodePage(text::toCodePageCut(name, bound.limit));
}

// The accepted elements in document order, each read and named once for the run.
std::vector<Candidate> candidates(const NodeList& binaries, NameBound listedNames) {
    std::vector<Candidate> found;
    std::int32_t length = 0;
    if (!nodeListLength(binaries, length)) return found;
    for (std::int32_t i = 0; i < length; ++i) {
        Node node;
        if (!nodeListItem(binaries, i, node)) break;
        if (!node) continue;
        std::optional<BinaryEntry> entry = readBinaryEntry(node, EntrySizes::skip);
        if (!entry) continue;
        // A listed name is cut to a host's field, far shorter than any path; an id
        // longer than a path is no name a host hands over, and is not kept.
        std::string listed = listedAs(safeEntryName(std::string_view(entry->id).substr(0, kLongestPath)), listedNames);
        if (entry->id.size() > kLongestPath) std::string().swap(entry->id);  // its storage too
        found.push_back({i, std::move(entry->id), std::move(listed)});
    }
    return found;
}

// The first candidate that `name` names without regard to case, so every entry the
// host lists can be replaced under its listed name; null when there is none.
const Candidate* findElement(const std::vector<Candidate>& found, const std::string& name) {
    for (const Candidate& c : found)
        if ((!c.id.empty() && text::sameName(c.id, name)) || text::sameName(c.listed, name)) return &c;
    return nullptr;
}

// Puts the new book into the book's own file: spliced from the book's own bytes when
// the edits allow it with certainty, else serialised from the document.
Status saveOverBook(const BookDocument& document, const BookEdits* edits, const std::string& book) {
    if (platform::isReadOnly(book.c_str())) return Status::writeFailed;
    if (edits != nullptr) {
        bool declined = false;
        bool saved = platform::saveBookFile(book.c_str(), [&](const platform::BookWriter& write) {
            SpliceResult spliced = spliceBook(book.c_str(), *edits, write);
            declined = spliced == SpliceResult::declined;
            return spliced == SpliceResult::spliced;
        });
        if (saved) return Status::ok;
        if (!declined) return Status::writeFailed;
    }
    auto serialise = [&](const platform::BookWriter& write) { return saveBook(document, book.c_str(), write); };
    return platform::saveBookFile(book.c_str(), serialise) ? Status::ok : Status::writeFailed;
}

}  // namespace

Status packFiles(const PackRequest& request) {
    if (!platform::settleBook(request.book.c_str())) return Status::openFailed;
    // One writer at a time, from the load to the end of the save, so that no other
    // run's changes are lost.
    platform::BookLock lock = platform::lockBook(request.book.c_str());
    if (!lock.held()) return lock.state() == platform::BookLock::State::busy ? Status::writeFailed : Status::openFailed;
    BookDocument document = loadBook(request.book.c_str());
    if (!document) return Status::openFailed;
    if (request.subPath) return Status::notSupported;
    NodeList binaries;
    if (!selectNodes(document, "//FictionBook/binary", binaries) || !binaries) return Status::noFiles;

    std::vector<const std::string*> putIn;  // source files now held by the book
    std::int32_t count = 0;
    std::vector<bool> replacedAt(nodeListLength(binaries, count) ? static_cast<std::size_t>(count) : 0);
    std::vector<Candidate> found;  // read when the first name needs them
    bool read = false;
    bool unmatched = false;  // a file was given that names no entry
    for (const PackName& item : request.names) {
        if (item.refused) return Status::notSupported;
        // The index is generated from the book: there is nothing to put it into.
        if (text::sameName(item.name, kIndexName)) continue;
        if (item.pathTooLong) return Status::notSupported;
        if (!read) {
            found = candidates(binaries, request.listedNames);
            read = true;
        }
        const Candidate* match = findElement(found, item.name);
        Node element;
        if (match == nullptr || !nodeListItem(binaries, match->index, element) || !element) {
            unmatched = true;
            continue;
        }
        if (Status status = encodeFileIntoBinary(element, item.sourcePath, request.progress); status != Status::ok)
            return status;
        if (static_cast<std::size_t>(match->index) < replacedAt.size())
            replacedAt[static_cast<std::size_t>(match->index)] = true;
        putIn.push_back(&item.sourcePath);
    }
    // A run that puts nothing in leaves the book as it was: no note, no save. With
    // nothing to put in (an empty list, only the index) that is all it was asked;
    // files given of which none is an entry were not put in, and the host hears so.
    if (putIn.empty()) return unmatched ? Status::noFiles : Status::ok;
    BookEdits edits;
    bool editsKnown = collectBinaryEdits(binaries, replacedAt, edits);
    binaries.reset();

    edits.note = appendHistoryNote(document, static_cast<std::int32_t>(putIn.size()));
    if (Status status = saveOverBook(document, editsKnown ? &edits : nullptr, request.book); status != Status::ok)
        return status;
    document.reset();

    // Only files the book now holds are deleted; names that matched nothing stay.
    if (request.moveFiles)
        for (const std::string* source : putIn) platform::removeFile(source->c_str());
    return Status::ok;
}

}  // namespace vellum
