#include "book/book_scan.h"

#include "book/book_scan_parts.h"
#include "book/note_path.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace vellum {

namespace {

constexpr std::size_t kBlock = 1 << 18;

}  // namespace

// Reads the book's code units, hands each character to the part that reads what it
// stands in, and keeps what the elements tell.
struct BookScanner::Machine {
    BookScan scan;
    bool decided = false;
    bool failed = false;
    std::string head;  // the first bytes, kept until the encoding is known
    BookCharset charset;
    int pendingByte = -1;  // UTF-16: the odd byte of the last piece
    std::vector<char16_t> units;
    std::uint64_t consumed = 0;  // code units read

    // The part reading the current character, and each part's own record.
    enum class Part : std::uint8_t { text, tag, doctype };
    Part part = Part::text;
    scan::TextReader text;
    scan::TagReader tag;
    scan::DoctypeReader doctype;
    std::uint64_t markupStart = 0;  // the "<" of the tag being read, in code units

    // The elements open around the current character.
    struct Open {
        std::uint32_t nameHash;
        std::int32_t binary;  // index in scan.binaries, or -1
        std::int8_t chain;    // the level of the note's chain whose path this element ends, or -1
        std::int8_t firstOf;  // the level this element is the first of, or -1
        std::int8_t childOf;  // the level whose first element is this one's parent, or -1
        bool fictionBook;
    };
    std::vector<Open> stack;
    bool rootSeen = false;

    std::uint64_t bytes(std::uint64_t unit) const { return unit * scan.unitSize; }
    void fail() { failed = true; }

    bool decide(bool atEnd);
    void feedDecided(const unsigned char* p, std::size_t n);
    template <typename Unit>
    void run(const Unit* p, std::size_t n);
    void step(std::uint32_t c, std::uint64_t at);
    void textRead(scan::TextStep read, std::uint32_t c, std::uint64_t at);
    void tagRead(scan::TagStep read, std::uint32_t c, std::uint64_t at);
    void nameRead();
    void startTagRead(bool empty, std::uint64_t at);
    void endTagRead();
};

// Finds the encoding once enough of the book's start is in. False while more bytes
// are needed; an encoding the splice does not handle fails the scan.
bool BookScanner::Machine::decide(bool atEnd) {
    if (!detectBookCharset(head, atEnd, charset)) return false;
    decided = true;
    scan.encoding = charset.encoding;
    scan.unitSize = charset.unitSize;
    if (charset.encoding == BookEncoding::unsupported) fail();
    return true;
}

void BookScanner::Machine::feedDecided(const unsigned char* p, std::size_t n) {
    if (failed || n == 0) return;
    if (scan.unitSize == 1) {
        run(p, n);
        return;
    }
    bool little = scan.encoding == BookEncoding::utf16le;
    units.clear();
    std::size_t i = 0;
    if (pendingByte >= 0) {
        unsigned a = static_cast<unsigned>(pendingByte), b = p[0];
        units.push_back(static_cast<char16_t>(little ? a | b << 8 : a << 8 | b));
        pendingByte = -1;
        i = 1;
    }
    for (; i + 1 < n; i += 2)
        units.push_back(static_cast<char16_t>(little ? p[i] | p[i + 1] << 8 : p[i] << 8 | p[i + 1]));
    if (i < n) pendingByte = p[i];
    run(units.data(), units.size());
}

template <typename Unit>
void BookScanner::Machine::run(const Unit* p, std::size_t n) {
    const std::uint64_t base = consumed;
    consumed += n;
    // Character data and attribute values are most of a book: they are skipped to
    // the next character that ends them. Names are read a run at a time.
    auto find = [&](std::size_t from, Unit unit) -> std::size_t {
        if constexpr (sizeof(Unit) == 1) {
            const void* hit = std::memchr(p + from, unit, n - from);
            return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const Unit*>(hit) - p);
        } else {
            return static_cast<std::size_t>(std::find(p + from, p + n, unit) - p);
        }
    };
    for (std::size_t i = 0; i < n && !failed; ++i) {
        if (part == Part::text && text.state == scan::TextReader::State::text) {
            i = find(i, Unit('<'));
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
        if (scan::TextStep read = scan::readText(text, c); read != scan::TextStep::reading) textRead(read, c, at);
        return;
    case Part::tag:
        if (scan::TagStep read = scan::readTag(tag, c, at); read != scan::TagStep::reading) tagRead(read, c, at);
        return;
    case Part::doctype:
        if (scan::DoctypeStep read = scan::readDoctype(doctype, c); read != scan::DoctypeStep::reading) {
            part = Part::text;
            if (read == scan::DoctypeStep::malformed) fail();
        }
        return;
    }
}

void BookScanner::Machine::textRead(scan::TextStep read, std::uint32_t c, std::uint64_t at) {
    switch (read) {
    case scan::TextStep::reading:
        return;
    case scan::TextStep::markup:
        markupStart = at;
        return;
    case scan::TextStep::startTag:
        part = Part::tag;
        return scan::beginStartTag(tag, c);
    case scan::TextStep::endTag:
        part = Part::tag;
        return scan::beginEndTag(tag);
    case scan::TextStep::doctype:
        part = Part::doctype;
        return scan::beginDoctype(doctype);
    case scan::TextStep::malformed:
        return fail();
    }
}

void BookScanner::Machine::tagRead(scan::TagStep read, std::uint32_t c, std::uint64_t at) {
    switch (read) {
    case scan::TagStep::reading:
        return;
    case scan::TagStep::nameRead:
        nameRead();
        return step(c, at);
    case scan::TagStep::startTag:
        return startTagRead(false, at);
    case scan::TagStep::emptyTag:
        return startTagRead(true, at);
    case scan::TagStep::endTag:
        return endTagRead();
    case scan::TagStep::malformed:
        return fail();
    }
}

// The id is read only of a binary element whose parent is named FictionBook.
void BookScanner::Machine::nameRead() {
    tag.wantId = tag.name.is("binary") && !stack.empty() && stack.back().fictionBook;
}

void BookScanner::Machine::startTagRead(bool empty, std::uint64_t at) {
    part = Part::text;
    const Open* parent = stack.empty() ? nullptr : &stack.back();
    if (parent == nullptr) {
        if (rootSeen) return fail();
        rootSeen = true;
    }
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
    if (tag.wantId) {
        ScannedBinary entry;
        entry.hasId = tag.id.present;
        entry.idKnown = !entry.hasId || (!tag.id.tooLong && decodeAttributeValue(tag.id.units, charset, entry.id));
        entry.emptyTag = empty;
        entry.contentStart = contentStart;
        entry.contentEnd = contentEnd;
        binary = static_cast<std::int32_t>(scan.binaries.size());
        scan.binaries.push_back(std::move(entry));
    }
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

void BookScanner::Machine::endTagRead() {
    part = Part::text;
    if (stack.empty() || stack.back().nameHash != tag.name.hash) return fail();
    Open closed = stack.back();
    stack.pop_back();
    const std::uint64_t at = bytes(markupStart);
    if (closed.binary >= 0) scan.binaries[static_cast<std::size_t>(closed.binary)].contentEnd = at;
    if (closed.firstOf >= 0) scan.levels[static_cast<std::size_t>(closed.firstOf)].closeAt = at;
    if (closed.childOf >= 0) scan.levels[static_cast<std::size_t>(closed.childOf)].lastChildContentEnd = at;
}

BookScanner::BookScanner() : machine_(std::make_unique<Machine>()) {}
BookScanner::~BookScanner() = default;

void BookScanner::feed(const void* data, std::size_t size) {
    Machine& m = *machine_;
    const auto* p = static_cast<const unsigned char*>(data);
    m.scan.size += size;
    if (m.decided) {
        m.feedDecided(p, size);
        return;
    }
    m.head.append(reinterpret_cast<const char*>(p), size);
    if (!m.decide(false)) return;
    std::string head = std::move(m.head);
    m.feedDecided(reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

BookScan BookScanner::finish() {
    Machine& m = *machine_;
    if (!m.decided) {
        m.decide(true);
        std::string head = std::move(m.head);
        m.feedDecided(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    }
    m.scan.entitiesMayHoldMarkup = m.doctype.entitiesMayHoldMarkup;
    m.scan.complete = !m.failed && m.pendingByte < 0 && m.part == Machine::Part::text &&
                      m.text.state == scan::TextReader::State::text && m.stack.empty() && m.rootSeen &&
                      m.scan.encoding != BookEncoding::unsupported;
    return std::move(m.scan);
}

std::optional<BookScan> scanBookFile(const char* path) {
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return std::nullopt;
    BookScanner scanner;
    std::vector<unsigned char> block(kBlock);
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::readSome(file, block.data(), static_cast<std::uint32_t>(block.size()), got)) return std::nullopt;
        if (got == 0) break;
        scanner.feed(block.data(), got);
    }
    return scanner.finish();
}

}  // namespace vellum
