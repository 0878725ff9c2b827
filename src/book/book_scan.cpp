#include "book/book_scan.h"

#include "book/base64.h"
#include "book/book_scan_parts.h"
#include "book/note_path.h"
#include "platform/platform.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstring>

namespace vellum {

namespace {

constexpr std::size_t kBlock = 1 << 18;
// Detection reads a little at a time: the first element is nearly always within the
// first few hundred bytes.
constexpr std::size_t kDetectionBlock = 1 << 12;
// An element nested deeper than this breaks the book: the element stack stays small.
constexpr std::size_t kMaxDepth = 1 << 18;

// Whether bytes the charset cannot read begin like XML text in a wider encoding
// (UTF-16 or UTF-32 without a mark): "<" or white space as their first unit.
bool startsLikeWideText(const std::string& head) {
    auto markupOrSpace = [](std::uint32_t c) { return c == '<' || scan::isSpace(c); };
    if (head.size() < 2) return false;
    auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(head[i])); };
    if (markupOrSpace(b(0) | b(1) << 8) || markupOrSpace(b(0) << 8 | b(1))) return true;
    return head.size() >= 4 && (markupOrSpace(b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24) ||
                                markupOrSpace(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3)));
}

}  // namespace

// Reads the book's code units, hands each character to the part that reads what it
// stands in, and keeps what the elements tell.
struct BookScanner::Machine {
    explicit Machine(ScanPurpose p) : purpose(p) {}

    const ScanPurpose purpose;
    BookScan scan;
    bool decided = false;
    bool failed = false;   // a splice's scan cannot place everything with certainty
    bool stopped = false;  // nothing more is read
    std::string head;  // the first bytes, kept until the encoding is known
    BookCharset charset;
    std::uint64_t markUnits = 0;  // the byte-order mark, in code units
    int pendingByte = -1;         // UTF-16: the odd byte of the last piece
    std::vector<char16_t> units;
    std::uint64_t consumed = 0;  // code units read

    // The part reading the current character, and each part's own record.
    enum class Part : std::uint8_t { text, tag, doctype };
    Part part = Part::text;
    scan::TextReader text;
    scan::TagReader tag;
    scan::DoctypeReader doctype;
    std::uint64_t markupStart = 0;  // the "<" of the tag being read, in code units

    // The elements open around the current character (none once the book is damaged).
    struct Open {
        std::uint32_t nameHash;
        std::int32_t binary;  // index in scan.binaries, or -1
        std::int8_t chain;    // the level of the note's chain whose path this element ends, or -1
        std::int8_t firstOf;  // the level this element is the first of, or -1
        std::int8_t childOf;  // the level whose first element is this one's parent, or -1
        bool fictionBook;
    };
    std::vector<Open> stack;
    bool rootSeen = false;  // the first element's name has been read

    // Reading: the binary element whose content is being read. It is always the
    // innermost element: any markup but its end tag ends it as an entry.
    bool inContent = false;
    ReadEntry entry;
    scan::ContentTally tally;

    std::uint64_t bytes(std::uint64_t unit) const { return unit * scan.unitSize; }

    bool decide(bool atEnd);
    void feedDecided(const unsigned char* p, std::size_t n);
    template <typename Unit>
    void run(const Unit* p, std::size_t n);
    void step(std::uint32_t c, std::uint64_t at);
    void textRead(scan::TextStep read, std::uint32_t c, std::uint64_t at);
    void tagRead(scan::TagStep read, std::uint32_t c, std::uint64_t at);
    bool nameRead(std::uint32_t c, std::uint64_t at);
    void startTagRead(bool empty, std::uint64_t at);
    void endTagRead(std::uint64_t at);
    void broken(std::uint32_t c, std::uint64_t at);
    void damage();
    void beginEntry(bool empty, std::uint64_t at);
    void endEntry();
    bool keptText(const scan::KeptValue& value, std::string& out) const;
};

// Finds the encoding once enough of the book's start is in. False while more bytes
// are needed; an encoding the scanner does not read ends the scan.
bool BookScanner::Machine::decide(bool atEnd) {
    if (!detectBookCharset(head, atEnd, charset)) return false;
    decided = true;
    scan.encoding = charset.encoding;
    scan.unitSize = charset.unitSize;
    markUnits = charset.markBytes / charset.unitSize;
    if (charset.encoding == BookEncoding::unsupported) {
        failed = stopped = true;
        // Bytes without a zero among the first two that are still unread here are no
        // XML text; anything else may be, in an encoding a parser reads.
        bool wide = head.size() >= 2 && (head[0] == '\0' || head[1] == '\0');
        scan.firstElement = wide && !startsLikeWideText(head) ? FirstElement::notXml : FirstElement::undecided;
    }
    return true;
}

void BookScanner::Machine::feedDecided(const unsigned char* p, std::size_t n) {
    if (stopped || n == 0) return;
    if (scan.unitSize == 1) {
        run(p, n);
        return;
    }
    bool little = scan.encoding == BookEncoding::utf16le;
    units.clear();
    std::size_t i = 0;
    if (pendingByte >= 0) {
        units.push_back(utf16Unit(static_cast<unsigned>(pendingByte), p[0], little));
        pendingByte = -1;
        i = 1;
    }
    for (; i + 1 < n; i += 2)
        units.push_back(utf16Unit(p[i], p[i + 1], little));
    if (i < n) pendingByte = p[i];
    run(units.data(), units.size());
}

template <typename Unit>
void BookScanner::Machine::run(const Unit* p, std::size_t n) {
    const std::uint64_t base = consumed;
    consumed += n;
    // Character data and attribute values are most of a book: they are skipped to
    // the next character that ends them, or, in a binary's content, counted up to
    // it. Names are read a run at a time. Before the first element every character
    // is looked at: only markup and white space may stand there.
    auto find = [&](std::size_t from, Unit unit) -> std::size_t {
        if constexpr (sizeof(Unit) == 1) {
            const void* hit = std::memchr(p + from, unit, n - from);
            return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const Unit*>(hit) - p);
        } else {
            return static_cast<std::size_t>(std::find(p + from, p + n, unit) - p);
        }
    };
    for (std::size_t i = 0; i < n && !stopped; ++i) {
        if (part == Part::text && text.state == scan::TextReader::State::text) {
            if (inContent) {
                std::size_t end = find(i, Unit('<'));
                if constexpr (sizeof(Unit) == 1) {
                    scan::tallyContent(tally, p + i, end - i, scan.encoding == BookEncoding::utf8);
                } else {
                    scan::tallyContent(tally, p + i, end - i);
                }
                i = end;
            } else if (rootSeen) {
                i = find(i, Unit('<'));
            }
        } else if (part == Part::tag && tag.skippingValue()) {
            i = find(i, static_cast<Unit>(tag.quote));
        } else if (part == Part::tag && tag.inName()) {
            for (; i < n && scan::continuesName(tag, p[i]); ++i) tag.name.add(p[i]);
        }
        if (i == n) break;
        step(p[i], base + i);
    }
}

// Most characters leave the part reading them where it was; what ends is handled
// out of this path.
void BookScanner::Machine::step(std::uint32_t c, std::uint64_t at) {
    switch (part) {
    case Part::text:
        if (!rootSeen && text.state == scan::TextReader::State::text && c != '<' && !scan::isSpace(c) &&
            at >= markUnits)
            return broken(c, at);  // text before the first element
        if (scan::TextStep read = scan::readText(text, c); read != scan::TextStep::reading) textRead(read, c, at);
        return;
    case Part::tag:
        if (scan::TagStep read = scan::readTag(tag, c, at); read != scan::TagStep::reading) tagRead(read, c, at);
        return;
    case Part::doctype:
        if (scan::DoctypeStep read = scan::readDoctype(doctype, c); read != scan::DoctypeStep::reading) {
            part = Part::text;
            if (read == scan::DoctypeStep::malformed) broken(c, at);
        }
        return;
    }
}

void BookScanner::Machine::textRead(scan::TextStep read, std::uint32_t c, std::uint64_t at) {
    switch (read) {
    case scan::TextStep::reading:
        return;
    case scan::TextStep::aside:
        if (inContent) entry.plain = false;
        return;
    case scan::TextStep::markup:
        markupStart = at;
        return;
    case scan::TextStep::startTag:
        inContent = false;  // a child element: the binary is no entry
        part = Part::tag;
        return scan::beginStartTag(tag, c);
    case scan::TextStep::endTag:
        part = Part::tag;
        return scan::beginEndTag(tag);
    case scan::TextStep::doctype:
        inContent = false;
        part = Part::doctype;
        return scan::beginDoctype(doctype);
    case scan::TextStep::malformed:
        return broken(c, at);
    }
}

void BookScanner::Machine::tagRead(scan::TagStep read, std::uint32_t c, std::uint64_t at) {
    switch (read) {
    case scan::TagStep::reading:
        return;
    case scan::TagStep::nameRead:
        if (nameRead(c, at)) step(c, at);
        return;
    case scan::TagStep::startTag:
        return startTagRead(false, at);
    case scan::TagStep::emptyTag:
        return startTagRead(true, at);
    case scan::TagStep::endTag:
        return endTagRead(at);
    case scan::TagStep::malformed:
        return broken(c, at);
    }
}

// A start tag's name, read up to `c`. The first one tells what the book is; the id
// (and for a reader the content type) is read only of a binary element whose parent
// is named FictionBook, or of any binary element once the book is damaged. False
// when the tag is not to be read on.
bool BookScanner::Machine::nameRead(std::uint32_t c, std::uint64_t at) {
    if (!rootSeen) {
        rootSeen = true;
        scan.firstElement = bytes(at + 1) > kPrologCap  ? FirstElement::undecided
                            : tag.name.is("FictionBook") ? FirstElement::fictionBook
                                                         : FirstElement::other;
        bool readOn = purpose == ScanPurpose::splice ||
                      (purpose == ScanPurpose::reading && scan.firstElement == FirstElement::fictionBook);
        if (!readOn) stopped = true;
        if (stopped) return false;
    } else if (stack.empty() && !scan.damaged) {
        // A second root: a reader reads this tag on, as one after the damage.
        if (purpose != ScanPurpose::reading) {
            broken(c, at);
            return false;
        }
        damage();
    }
    const bool binary = tag.name.is("binary");
    tag.wantId = binary && (scan.damaged || (!stack.empty() && stack.back().fictionBook));
    tag.wantType = tag.wantId && purpose == ScanPurpose::reading;
    return true;
}

void BookScanner::Machine::startTagRead(bool empty, std::uint64_t at) {
    part = Part::text;
    if (scan.damaged) return beginEntry(empty, at);
    if (stack.size() >= kMaxDepth) return broken('>', at);
    const Open* parent = stack.empty() ? nullptr : &stack.back();
    const std::uint64_t contentStart = bytes(empty ? tag.slashAt : at + 1);
    const std::uint64_t contentEnd = empty ? contentStart : 0;  // known at the end tag
    if (parent != nullptr && parent->firstOf >= 0) {
        ScannedLevel& level = scan.levels[static_cast<std::size_t>(parent->firstOf)];
        ++level.childElements;
        level.lastChildStart = bytes(markupStart);
        level.lastChildContentStart = contentStart;
        level.lastChildContentEnd = contentEnd;
    }
    std::int32_t binary = -1;
    if (tag.wantId && purpose == ScanPurpose::splice) {
        ScannedBinary scanned;
        scanned.hasId = tag.id.present;
        scanned.idKnown =
            !scanned.hasId || (!tag.id.tooLong && decodeAttributeValue(tag.id.units, charset, scanned.id));
        scanned.emptyTag = empty;
        scanned.contentStart = contentStart;
        scanned.contentEnd = contentEnd;
        binary = static_cast<std::int32_t>(scan.binaries.size());
        scan.binaries.push_back(std::move(scanned));
    }
    beginEntry(empty, at);
    // The chain goes on from the root through children of the elements that carry it.
    int chain = -1;
    if (parent == nullptr) {
        chain = tag.name.is(kNotePath[0]) ? 0 : -1;
    } else if (parent->chain >= 0 && static_cast<std::size_t>(parent->chain) + 1 < kNoteDepth &&
               tag.name.is(kNotePath[static_cast<std::size_t>(parent->chain) + 1])) {
        chain = parent->chain + 1;
    }
    int firstOf = -1;
    if (chain >= 0 && !scan.levels[static_cast<std::size_t>(chain)].found) {
        ScannedLevel& level = scan.levels[static_cast<std::size_t>(chain)];
        level.found = true;
        level.name = tag.name.text;
        level.start = bytes(markupStart);
        level.emptyTag = empty;
        if (empty) level.closeAt = contentStart;
        firstOf = chain;
    }
    if (!empty) {
        std::int8_t childOf = parent != nullptr ? parent->firstOf : std::int8_t(-1);
        stack.push_back({tag.name.hash, binary, static_cast<std::int8_t>(chain), static_cast<std::int8_t>(firstOf),
                         childOf, tag.name.is("FictionBook")});
    }
}

void BookScanner::Machine::endTagRead(std::uint64_t at) {
    part = Part::text;
    if (scan.damaged) {
        if (inContent && tag.name.is("binary")) endEntry();
        inContent = false;
        return;
    }
    if (stack.empty() || stack.back().nameHash != tag.name.hash) return broken('>', at);
    if (inContent) endEntry();  // the binary is the innermost element
    Open closed = stack.back();
    stack.pop_back();
    const std::uint64_t end = bytes(markupStart);
    if (closed.binary >= 0) scan.binaries[static_cast<std::size_t>(closed.binary)].contentEnd = end;
    if (closed.firstOf >= 0) scan.levels[static_cast<std::size_t>(closed.firstOf)].closeAt = end;
    if (closed.childOf >= 0) scan.levels[static_cast<std::size_t>(closed.childOf)].lastChildContentEnd = end;
}

// Bytes that break XML at `c`. Before the first element the book is no XML text; a
// splice's scan ends; a reader's goes on without the element stack, from the next
// "<" (`c` itself when it is one).
void BookScanner::Machine::broken(std::uint32_t c, std::uint64_t at) {
    if (purpose == ScanPurpose::splice) {
        failed = stopped = true;
        return;
    }
    if (!rootSeen) {
        scan.firstElement = bytes(at + 1) > kPrologCap ? FirstElement::undecided : FirstElement::notXml;
        stopped = true;
        return;
    }
    damage();
    part = Part::text;
    text = scan::TextReader();
    if (c == '<') step(c, at);
}

void BookScanner::Machine::damage() {
    scan.damaged = true;
    std::vector<Open>().swap(stack);
    inContent = false;
}

// A reader's entry begins at a binary's start tag that has an id; an empty-element
// tag is one at once.
void BookScanner::Machine::beginEntry(bool empty, std::uint64_t at) {
    if (purpose != ScanPurpose::reading || !tag.wantId || !tag.id.present) return;
    entry = ReadEntry();
    entry.exact = keptText(tag.id, entry.id);
    entry.exact = keptText(tag.type, entry.contentType) && entry.exact;
    entry.contentStart = bytes(empty ? tag.slashAt : at + 1);
    if (empty) {
        entry.contentEnd = entry.contentStart;
        scan.entries.push_back(std::move(entry));
        return;
    }
    tally = scan::ContentTally();
    inContent = true;
}

void BookScanner::Machine::endEntry() {
    inContent = false;
    entry.contentEnd = bytes(markupStart);
    entry.textLength = static_cast<std::int64_t>(tally.units);
    entry.decodedSize = base64DecodedSizeOf(static_cast<std::int64_t>(tally.alphabet));
    entry.plain = entry.plain && !tally.reference;
    scan.entries.push_back(std::move(entry));
}

// A kept value in UTF-8; true when it was read exactly. A value past the cap is cut
// short of its end by more units than the longest reference (12) or character (2)
// takes, so that none is read half.
constexpr std::size_t kCutMargin = 16;

bool BookScanner::Machine::keptText(const scan::KeptValue& value, std::string& out) const {
    out.clear();
    if (!value.present) return true;
    std::u16string_view units = value.units;
    if (value.tooLong) units.remove_suffix(std::min(units.size(), kCutMargin));
    std::u16string decoded;
    bool exact = decodeAttributeValue(units, charset, decoded, Unreadable::keep);
    out = text::utf8FromUtf16(decoded);
    return exact;
}

BookScanner::BookScanner(ScanPurpose purpose) : machine_(std::make_unique<Machine>(purpose)) {}
BookScanner::~BookScanner() = default;

bool BookScanner::feed(const void* data, std::size_t size) {
    Machine& m = *machine_;
    if (m.stopped) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    m.scan.size += size;
    if (m.decided) {
        m.feedDecided(p, size);
        return !m.stopped;
    }
    m.head.append(reinterpret_cast<const char*>(p), size);
    if (!m.decide(false)) return true;
    std::string head = std::move(m.head);
    m.feedDecided(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    return !m.stopped;
}

BookScan BookScanner::finish() {
    Machine& m = *machine_;
    if (!m.decided) {
        m.decide(true);
        std::string head = std::move(m.head);
        m.feedDecided(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    }
    m.scan.entitiesMayHoldMarkup = m.doctype.entitiesMayHoldMarkup;
    m.scan.changesContent = m.doctype.changesContent;
    const bool ended = !m.failed && m.pendingByte < 0 && m.part == Machine::Part::text &&
                       m.text.state == scan::TextReader::State::text && m.stack.empty() && m.rootSeen;
    // Without a first element, what the bytes read so far are decides (the last
    // byte counting as the one that ends them).
    if (!m.rootSeen && !m.stopped)
        m.scan.firstElement = m.scan.size > kPrologCap ? FirstElement::undecided : FirstElement::notXml;
    if (m.scan.firstElement == FirstElement::fictionBook && !ended && m.purpose == ScanPurpose::reading)
        m.scan.damaged = true;  // cut short
    m.scan.complete = ended && !m.scan.damaged && m.scan.encoding != BookEncoding::unsupported;
    return std::move(m.scan);
}

std::optional<BookScan> scanBookFile(const char* path, ScanPurpose purpose) {
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return std::nullopt;
    const std::optional<std::int64_t> modified = platform::modifiedTime(file);
    BookScanner scanner(purpose);
    const bool detecting = purpose == ScanPurpose::detection;
    std::vector<unsigned char> block(detecting ? kDetectionBlock : kBlock);
    // Detection reads one byte past the cap, so that the scanner tells a book that
    // ends there from one that goes on.
    std::uint64_t left = detecting ? kPrologCap + 1 : UINT64_MAX;
    while (left > 0) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(block.size(), left));
        std::uint32_t got = 0;
        if (!platform::readSome(file, block.data(), want, got)) return std::nullopt;
        if (got == 0) break;
        left -= got;
        if (!scanner.feed(block.data(), got)) break;
    }
    BookScan scan = scanner.finish();
    scan.modified = modified;
    return scan;
}

}  // namespace vellum
