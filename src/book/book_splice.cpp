#include "book/book_splice.h"

#include "book/base64.h"
#include "book/binary_entry.h"
#include "book/book_scan.h"
#include "book/note_path.h"
#include "platform/platform.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace vellum {

namespace {

constexpr std::size_t kBlock = 1 << 18;

// One change to the original bytes: [from, to) is dropped and `before`, `text` and
// `after` are written in its place. `before` and `after` are ASCII markup.
struct Piece {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::string before;
    std::string_view text;
    std::string after;
    std::int64_t growth(unsigned unit) const {
        return static_cast<std::int64_t>((before.size() + text.size() + after.size()) * unit) -
               static_cast<std::int64_t>(to - from);
    }
};

// What the splice writes, and what a scan of the result must find.
struct Plan {
    unsigned unit = 1;                 // bytes per code unit
    std::vector<Piece> pieces;         // in file order, not overlapping
    std::vector<std::int32_t> owners;  // the binary element each piece replaces, -1 for the note
    std::vector<std::int64_t> sum;     // sum[i]: the growth of pieces[0, i)
    BookScan expected;
    std::array<bool, kNoteDepth> lastChildChecked{};

    // Where original byte `offset` lands: moved by every piece that ends at or
    // before it, `except` left out.
    std::uint64_t moved(std::uint64_t offset, const Piece* except = nullptr) const {
        auto ends = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                     [](std::uint64_t at, const Piece& piece) { return at < piece.to; });
        std::size_t n = static_cast<std::size_t>(ends - pieces.begin());
        std::int64_t shift = sum[n];
        if (except != nullptr && except < pieces.data() + n) shift -= except->growth(unit);
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(offset) + shift);
    }
};

bool base64Only(std::string_view text) {
    for (char c : text)
        if (kBase64Values[static_cast<unsigned char>(c)] == kNotBase64) return false;
    return true;
}

// The note's text goes into the book as it is: printable ASCII without markup.
bool plainText(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '<' || c == '&' || c == '>') return false;
    return true;
}

// The scan and the document tell the same story about every element the splice
// touches: the same binary elements in the same order with the same ids, and the
// same levels of the note's chain, the last one found with as many children.
bool agrees(const BookScan& scan, const BookEdits& edits) {
    if (!scan.complete || scan.entitiesMayHoldMarkup || scan.binaries.size() != edits.binaries.size()) return false;
    for (std::size_t i = 0; i < scan.binaries.size(); ++i) {
        const ScannedBinary& scanned = scan.binaries[i];
        const BinaryEdit& edit = edits.binaries[i];
        if (scanned.hasId != edit.hasId) return false;
        if (scanned.hasId && (!scanned.idKnown || text::utf8FromUtf16(scanned.id) != edit.id)) return false;
    }
    const NoteEdit& note = edits.note;
    int found = 0;
    int created = 0;
    for (std::size_t k = 0; k < kNoteDepth; ++k) {
        if (scan.levels[k].found != (note.levels[k] == NoteLevel::found)) return false;
        // Found levels run from the root, created ones follow them.
        if (note.levels[k] == NoteLevel::found && (created > 0 || found != static_cast<int>(k))) return false;
        found += note.levels[k] == NoteLevel::found;
        created += note.levels[k] == NoteLevel::created;
    }
    if (!note.appended) return created == 0;
    return found > 0 && found + created == static_cast<int>(kNoteDepth) &&
           scan.levels[static_cast<std::size_t>(found - 1)].childElements == note.parentChildren;
}

// The levels of the note's chain that the book had, counted from the root.
std::size_t levelsFound(const NoteEdit& note) {
    std::size_t found = 0;
    while (found < kNoteDepth && note.levels[found] == NoteLevel::found) ++found;
    return found;
}

// The prefix (with its colon) of an element name as written, or empty.
std::string prefixOf(const std::string& name) {
    std::size_t colon = name.find(':');
    return colon == std::string::npos ? std::string() : name.substr(0, colon + 1);
}

// The pieces, in file order, with the binary element each replaces (-1 for the
// note); none when the edits cannot be spliced.
std::optional<Plan> planPieces(const BookScan& scan, const BookEdits& edits) {
    Plan plan;
    const unsigned unit = plan.unit = scan.unitSize;
    std::vector<Piece> pieces;
    std::vector<std::int32_t> owners;
    for (std::size_t i = 0; i < edits.binaries.size(); ++i) {
        const BinaryEdit& edit = edits.binaries[i];
        const ScannedBinary& scanned = scan.binaries[i];
        if (!edit.replaced) continue;
        if (!base64Only(edit.text.text)) return std::nullopt;
        Piece piece;
        piece.text = edit.text.text;
        piece.from = scanned.contentStart;
        if (scanned.emptyTag) {
            if (piece.text.empty()) continue;  // stays as it was
            piece.to = piece.from + unit;      // the "/" of "/>" becomes ">" ... "</binary"
            piece.before = ">";
            piece.after = "</binary";
        } else {
            piece.to = scanned.contentEnd;
        }
        pieces.push_back(std::move(piece));
        owners.push_back(static_cast<std::int32_t>(i));
    }
    const NoteEdit& note = edits.note;
    if (note.appended) {
        if (!plainText(note.text)) return std::nullopt;
        const std::size_t found = levelsFound(note);
        const ScannedLevel& parent = scan.levels[found - 1];
        const std::string prefix = prefixOf(parent.name);
        Piece piece;
        // The missing levels and the note, each inside the one before it.
        for (std::size_t k = found; k <= kNoteDepth; ++k) piece.before += "<" + prefix + noteStep(k) + ">";
        for (std::size_t k = kNoteDepth + 1; k-- > found;) piece.after += "</" + prefix + noteStep(k) + ">";
        piece.text = note.text;
        piece.from = parent.closeAt;
        piece.to = parent.closeAt;
        if (parent.emptyTag) {
            piece.to += unit;
            piece.before.insert(0, ">");
            piece.after += "</" + parent.name;
        }
        pieces.push_back(std::move(piece));
        owners.push_back(-1);
    }

    std::vector<std::size_t> order(pieces.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return pieces[a].from < pieces[b].from; });
    plan.sum.assign(1, 0);
    for (std::size_t i : order) {
        const Piece* last = plan.pieces.empty() ? nullptr : &plan.pieces.back();
        if (last != nullptr && (last->to > pieces[i].from || last->from == pieces[i].from)) return std::nullopt;
        plan.pieces.push_back(std::move(pieces[i]));
        plan.owners.push_back(owners[i]);
        plan.sum.push_back(plan.sum.back() + plan.pieces.back().growth(unit));
    }
    return plan;
}

// The scan the result must give: the original's, moved by the pieces, with the
// replaced contents and the inserted elements where the pieces put them.
void expectResult(const BookScan& scan, const BookEdits& edits, Plan& plan) {
    const unsigned unit = scan.unitSize;
    BookScan& expected = plan.expected;
    expected = scan;
    expected.size = plan.moved(scan.size);
    std::vector<const Piece*> pieceOf(scan.binaries.size(), nullptr);
    const Piece* notePiece = nullptr;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        if (plan.owners[i] >= 0) {
            pieceOf[static_cast<std::size_t>(plan.owners[i])] = &plan.pieces[i];
        } else {
            notePiece = &plan.pieces[i];
        }
    }
    for (std::size_t i = 0; i < expected.binaries.size(); ++i) {
        ScannedBinary& binary = expected.binaries[i];
        if (const Piece* piece = pieceOf[i]) {
            binary.contentStart = plan.moved(binary.contentStart, piece) + (binary.emptyTag ? unit : 0);
            binary.contentEnd = binary.contentStart + piece->text.size() * unit;
            binary.emptyTag = false;
        } else {
            binary.contentStart = plan.moved(binary.contentStart);
            binary.contentEnd = plan.moved(binary.contentEnd);
        }
    }
    const std::size_t found = levelsFound(edits.note);
    for (std::size_t k = 0; k < found; ++k) {
        expected.levels[k].start = plan.moved(expected.levels[k].start);
        expected.levels[k].closeAt = plan.moved(expected.levels[k].closeAt);
    }
    if (notePiece == nullptr) return;

    // The inserted elements, from the first start tag to the parent's end tag.
    const ScannedLevel& parent = scan.levels[found - 1];
    const std::size_t prefix = prefixOf(parent.name).size();
    std::uint64_t at = plan.moved(parent.closeAt, notePiece) + (parent.emptyTag ? unit : 0);
    std::array<std::uint64_t, kNoteDepth + 1> starts{}, contentStarts{}, closes{};
    for (std::size_t k = found; k <= kNoteDepth; ++k) {
        starts[k] = at;
        at += (prefix + std::strlen(noteStep(k)) + 2) * unit;  // "<" name ">"
        contentStarts[k] = at;
    }
    at += edits.note.text.size() * unit;
    for (std::size_t k = kNoteDepth + 1; k-- > found;) {
        closes[k] = at;
        at += (prefix + std::strlen(noteStep(k)) + 3) * unit;  // "</" name ">"
    }
    for (std::size_t k = found - 1; k < kNoteDepth; ++k) {
        ScannedLevel& level = expected.levels[k];
        if (k >= found) {
            level = ScannedLevel();
            level.found = true;
            level.name = prefixOf(parent.name) + kNotePath[k];
            level.start = starts[k];
            level.closeAt = closes[k];
        } else {
            level.emptyTag = false;
            level.closeAt = at;  // the parent's end tag, after everything inserted
        }
        ++level.childElements;
        level.lastChildStart = starts[k + 1];
        level.lastChildContentStart = contentStarts[k + 1];
        level.lastChildContentEnd = closes[k + 1];
        plan.lastChildChecked[k] = true;
    }
}

bool sameAsPlanned(const BookScan& actual, const Plan& plan) {
    const BookScan& expected = plan.expected;
    if (!actual.complete || actual.entitiesMayHoldMarkup || actual.encoding != expected.encoding ||
        actual.size != expected.size || actual.binaries.size() != expected.binaries.size())
        return false;
    for (std::size_t i = 0; i < actual.binaries.size(); ++i) {
        const ScannedBinary& a = actual.binaries[i];
        const ScannedBinary& e = expected.binaries[i];
        if (a.hasId != e.hasId || a.idKnown != e.idKnown || a.id != e.id || a.emptyTag != e.emptyTag ||
            a.contentStart != e.contentStart || a.contentEnd != e.contentEnd)
            return false;
    }
    for (std::size_t k = 0; k < kNoteDepth; ++k) {
        const ScannedLevel& a = actual.levels[k];
        const ScannedLevel& e = expected.levels[k];
        if (a.found != e.found) return false;
        if (!a.found) continue;
        if (a.name != e.name || a.emptyTag != e.emptyTag || a.start != e.start || a.closeAt != e.closeAt ||
            a.childElements != e.childElements)
            return false;
        if (plan.lastChildChecked[k] &&
            (a.lastChildStart != e.lastChildStart || a.lastChildContentStart != e.lastChildContentStart ||
             a.lastChildContentEnd != e.lastChildContentEnd))
            return false;
    }
    return true;
}

// The writer, with a scanner reading every byte that goes to it.
class Output {
public:
    Output(const platform::BookWriter& write, BookEncoding encoding) : write_(write), encoding_(encoding) {}

    bool bytes(const void* data, std::size_t size) {
        if (size == 0) return true;
        check_.feed(data, size);
        return write_(data, size);
    }

    // ASCII text in the book's encoding.
    bool text(std::string_view ascii) {
        if (encoding_ != BookEncoding::utf16le && encoding_ != BookEncoding::utf16be)
            return bytes(ascii.data(), ascii.size());
        const bool little = encoding_ == BookEncoding::utf16le;
        while (!ascii.empty()) {
            std::size_t n = std::min<std::size_t>(ascii.size(), kBlock / 2);
            wide_.resize(2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                wide_[2 * i + (little ? 0 : 1)] = ascii[i];
                wide_[2 * i + (little ? 1 : 0)] = '\0';
            }
            if (!bytes(wide_.data(), wide_.size())) return false;
            ascii.remove_prefix(n);
        }
        return true;
    }

    BookScan finish() { return check_.finish(); }

private:
    const platform::BookWriter& write_;
    BookEncoding encoding_;
    BookScanner check_;
    std::string wide_;
};

enum class Copy { done, unreadable, writeFailed };

// Copies the book around the pieces. `unreadable` when the book cannot be read as it
// was scanned.
Copy copyAround(const char* path, const BookScan& scan, const Plan& plan, Output& out) {
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return Copy::unreadable;
    std::vector<unsigned char> block(kBlock);
    std::uint64_t offset = 0;  // of the block in the file
    std::uint64_t cursor = 0;  // the next original byte to copy
    std::size_t next = 0;
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::readSome(file, block.data(), static_cast<std::uint32_t>(block.size()), got))
            return Copy::unreadable;
        if (got == 0) break;
        const std::uint64_t end = offset + got;
        while (cursor < end) {
            const unsigned char* from = block.data() + (cursor - offset);
            if (next < plan.pieces.size() && plan.pieces[next].from < end) {
                const Piece& piece = plan.pieces[next++];
                if (!out.bytes(from, static_cast<std::size_t>(piece.from - cursor)) || !out.text(piece.before) ||
                    !out.text(piece.text) || !out.text(piece.after))
                    return Copy::writeFailed;
                cursor = piece.to;
            } else {
                if (!out.bytes(from, static_cast<std::size_t>(end - cursor))) return Copy::writeFailed;
                cursor = end;
            }
        }
        offset = end;
    }
    return offset == scan.size && cursor == offset && next == plan.pieces.size() ? Copy::done : Copy::unreadable;
}

}  // namespace

bool collectBinaryEdits(const NodeList& binaries, const std::vector<bool>& replaced, BookEdits& edits) {
    edits.binaries.clear();
    std::int32_t length = 0;
    if (!nodeListLength(binaries, length) || length < 0 || replaced.size() != static_cast<std::size_t>(length))
        return false;
    edits.binaries.resize(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i) {
        Node node;
        if (!nodeListItem(binaries, i, node) || !node) return false;
        BinaryEdit& edit = edits.binaries[static_cast<std::size_t>(i)];
        edit.hasId = attributeText(node, "id", edit.id);
        edit.replaced = replaced[static_cast<std::size_t>(i)];
        if (edit.replaced && !elementText(node, edit.text, Utf16Length::skip)) return false;
    }
    return true;
}

SpliceResult spliceBook(const char* path, const BookEdits& edits, const platform::BookWriter& write) {
    if (path == nullptr) return SpliceResult::declined;
#ifdef VELLUM_SAVE_SEAM
    if (save_seam::declineSplices.load()) return SpliceResult::declined;
#endif
    std::optional<BookScan> scan = scanBookFile(path);
    if (!scan || !agrees(*scan, edits)) return SpliceResult::declined;
    std::optional<Plan> plan = planPieces(*scan, edits);
    if (!plan) return SpliceResult::declined;
    expectResult(*scan, edits, *plan);
    Output out(write, scan->encoding);
    switch (copyAround(path, *scan, *plan, out)) {
    case Copy::done:
        if (!sameAsPlanned(out.finish(), *plan)) return SpliceResult::declined;
#ifdef VELLUM_SAVE_SEAM
        ++save_seam::splicesWritten;
#endif
        return SpliceResult::spliced;
    case Copy::writeFailed:
        return SpliceResult::writeFailed;
    case Copy::unreadable:
        break;
    }
    return SpliceResult::declined;
}

}  // namespace vellum
