#include "book/book_scan.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vellum {

namespace {

// Names longer than this are none of the few the scanner looks for.
constexpr std::size_t kNameCap = 64;
// An id longer than this is not compared.
constexpr std::size_t kIdCap = 1 << 16;
// An entity declaration longer than this is not read; its entity counts as one
// that may hold markup.
constexpr std::size_t kDeclarationCap = 1 << 16;
constexpr std::size_t kBlock = 1 << 18;

const char* const kLevelNames[4] = {"FictionBook", "description", "document-info", "history"};

bool isSpace(std::uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
char ascii(std::uint32_t c) { return c < 0x80 ? static_cast<char>(c) : '\x80'; }

// Whether an entity declaration from the internal subset ("ENTITY ..." up to its
// ">") may put markup into the document where the entity is referred to: an
// external entity, or a value holding "<", a character reference to "<" or "&", a
// reference to another entity, or a parameter entity.
bool entityMayHoldMarkup(std::string_view declaration) {
    if (declaration.substr(0, 6) != "ENTITY" || declaration.size() < 7 || !isSpace(declaration[6]))
        return false;  // ELEMENT, ATTLIST, NOTATION
    std::size_t at = declaration.find_first_not_of(" \t\r\n", 6);
    if (at == std::string_view::npos) return true;
    if (declaration[at] == '%') return false;  // a parameter entity; its references are what count
    at = declaration.find_first_of(" \t\r\n", at);
    at = at == std::string_view::npos ? at : declaration.find_first_not_of(" \t\r\n", at);
    if (at == std::string_view::npos || (declaration[at] != '"' && declaration[at] != '\'')) return true;  // external
    std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return true;
    std::string_view value = declaration.substr(at + 1, end - at - 1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '<' || value[i] == '%') return true;
        if (value[i] != '&') continue;
        std::size_t semi = value.find(';', i);
        if (semi == std::string_view::npos) return true;
        std::u16string name;
        for (char c : value.substr(i + 1, semi - i - 1)) name += static_cast<char16_t>(static_cast<unsigned char>(c));
        std::uint32_t resolved = 0;
        if (!resolveReference(name, resolved)) return true;
        if (name[0] == u'#' && (resolved == '<' || resolved == '&')) return true;
        i = semi;
    }
    return false;
}

enum class State : std::uint8_t {
    text, markup, startName, tag, attrName, attrEquals, attrQuote, attrValue, emptyEnd, endName, endTail,
    bang, commentOpen, comment, cdataOpen, cdata, pi, doctypeOpen, doctype, subset, subsetMarkup, subsetBang,
    declaration, peReference, subsetEnd
};

}  // namespace

struct BookScanner::Machine {
    BookScan scan;
    bool decided = false;
    bool failed = false;
    std::string head;  // the first bytes, kept until the encoding is known
    BookCharset charset;
    int pendingByte = -1;  // UTF-16: the odd byte of the last piece
    std::vector<char16_t> units;
    std::uint64_t consumed = 0;  // code units read

    State state = State::text;
    State resume = State::text;  // where a comment or a processing instruction returns to
    std::uint64_t tagStart = 0;
    std::uint64_t slashAt = 0;
    std::string name;
    bool nameLong = false;
    std::uint32_t nameHash = 0;
    std::string attrName;
    std::uint32_t quote = 0;
    int count = 0;  // dashes, brackets or letters of a keyword matched so far
    bool question = false;
    bool wantId = false;
    bool capturing = false;
    bool hasId = false;
    bool idLong = false;
    std::u16string idRaw;
    std::string declaration;
    bool declarationLong = false;
    bool rootSeen = false;

    struct Open {
        std::uint32_t nameHash;
        std::int32_t binary;   // index in scan.binaries, or -1
        std::int8_t chain;     // the level whose pattern this element matches, or -1
        std::int8_t firstOf;   // the level this element is the first of, or -1
        std::int8_t childOf;   // the level whose first element is this one's parent, or -1
        bool fictionBook;
    };
    std::vector<Open> stack;

    std::uint64_t bytes(std::uint64_t unit) const { return unit * scan.unitSize; }
    void fail() { failed = true; }

    bool decide(bool atEnd);
    void feedDecided(const unsigned char* p, std::size_t n);
    template <typename Unit>
    void run(const Unit* p, std::size_t n);
    void step(std::uint32_t c, std::uint64_t at);
    void beginName() {
        name.clear();
        nameLong = false;
        nameHash = 2166136261u;
    }
    void addToName(std::uint32_t c) {
        nameHash = (nameHash ^ c) * 16777619u;
        if (name.size() < kNameCap) {
            name += ascii(c);
        } else {
            nameLong = true;
        }
    }
    bool nameIs(const char* literal) const { return !nameLong && name == literal; }
    void beginStartTag();
    void endStartTag(bool empty, std::uint64_t at);
    void endEndTag();
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
    // the next character that ends them.
    auto find = [&](std::size_t from, Unit unit) -> std::size_t {
        if constexpr (sizeof(Unit) == 1) {
            const void* hit = std::memchr(p + from, unit, n - from);
            return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const Unit*>(hit) - p);
        } else {
            return static_cast<std::size_t>(std::find(p + from, p + n, unit) - p);
        }
    };
    for (std::size_t i = 0; i < n && !failed;) {
        if (state == State::text) {
            i = find(i, Unit('<'));
            if (i == n) break;
            state = State::markup;
            tagStart = base + i;
            ++i;
        } else if (state == State::attrValue && !capturing) {
            i = find(i, static_cast<Unit>(quote));
            if (i == n) break;
            state = State::tag;
            ++i;
        } else {
            step(p[i], base + i);
            ++i;
        }
    }
}

void BookScanner::Machine::step(std::uint32_t c, std::uint64_t at) {
    switch (state) {
    case State::text:
        if (c == '<') {
            state = State::markup;
            tagStart = at;
        }
        return;
    case State::markup:
        if (c == '/') {
            beginName();
            state = State::endName;
        } else if (c == '?') {
            state = State::pi;
            resume = State::text;
            question = false;
        } else if (c == '!') {
            state = State::bang;
        } else if (isSpace(c) || c == '>' || c == '<' || c == '=' || c == '"' || c == '\'' || c == '&') {
            fail();
        } else {
            beginName();
            addToName(c);
            state = State::startName;
        }
        return;
    case State::startName:
        if (isSpace(c) || c == '>' || c == '/') {
            beginStartTag();
            state = State::tag;
            step(c, at);
        } else if (c == '<' || c == '=' || c == '"' || c == '\'') {
            fail();
        } else {
            addToName(c);
        }
        return;
    case State::tag:
        if (isSpace(c)) return;
        if (c == '>') {
            endStartTag(false, at);
        } else if (c == '/') {
            slashAt = at;
            state = State::emptyEnd;
        } else if (c == '=' || c == '"' || c == '\'' || c == '<') {
            fail();
        } else {
            attrName.assign(1, ascii(c));
            state = State::attrName;
        }
        return;
    case State::attrName:
        if (c == '=') {
            state = State::attrQuote;
        } else if (isSpace(c)) {
            state = State::attrEquals;
        } else if (c == '>' || c == '/' || c == '<' || c == '"' || c == '\'') {
            fail();
        } else if (attrName.size() < 4) {
            attrName += ascii(c);  // enough to tell "id" from every longer name
        }
        return;
    case State::attrEquals:
        if (c == '=') {
            state = State::attrQuote;
        } else if (!isSpace(c)) {
            fail();
        }
        return;
    case State::attrQuote:
        if (isSpace(c)) return;
        if (c != '"' && c != '\'') {
            fail();
            return;
        }
        quote = c;
        capturing = wantId && attrName == "id";
        if (capturing) {
            if (hasId) fail();
            hasId = true;
        }
        state = State::attrValue;
        return;
    case State::attrValue:
        if (c == quote) {
            state = State::tag;
            capturing = false;
        } else if (c == '<') {
            fail();
        } else if (capturing) {
            if (idRaw.size() < kIdCap) {
                idRaw += static_cast<char16_t>(c);
            } else {
                idLong = true;
            }
        }
        return;
    case State::emptyEnd:
        if (c == '>') {
            endStartTag(true, at);
        } else {
            fail();
        }
        return;
    case State::endName:
        if (c == '>') {
            endEndTag();
        } else if (isSpace(c)) {
            state = State::endTail;
        } else {
            addToName(c);
        }
        return;
    case State::endTail:
        if (c == '>') {
            endEndTag();
        } else if (!isSpace(c)) {
            fail();
        }
        return;
    case State::bang:
        count = 0;
        if (c == '-') {
            state = State::commentOpen;
            resume = State::text;
        } else if (c == '[') {
            state = State::cdataOpen;
        } else if (c == 'D') {
            state = State::doctypeOpen;
        } else {
            fail();
        }
        return;
    case State::commentOpen:
        if (c == '-') {
            state = State::comment;
            count = 0;
        } else {
            fail();
        }
        return;
    case State::comment:
        if (c == '-') {
            ++count;
        } else {
            if (c == '>' && count >= 2) state = resume;
            count = 0;
        }
        return;
    case State::cdataOpen:
        if (c != static_cast<unsigned char>("CDATA["[count])) {
            fail();
        } else if (++count == 6) {
            state = State::cdata;
            count = 0;
        }
        return;
    case State::cdata:
        if (c == ']') {
            ++count;
        } else {
            if (c == '>' && count >= 2) state = State::text;
            count = 0;
        }
        return;
    case State::pi:
        if (c == '>' && question) state = resume;
        question = c == '?';
        return;
    case State::doctypeOpen:
        if (c != static_cast<unsigned char>("OCTYPE"[count])) {
            fail();
        } else if (++count == 6) {
            state = State::doctype;
            quote = 0;
        }
        return;
    case State::doctype:
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            state = State::subset;
        } else if (c == '>') {
            state = State::text;
        }
        return;
    case State::subset:
        if (isSpace(c)) return;
        if (c == ']') {
            state = State::subsetEnd;
        } else if (c == '<') {
            state = State::subsetMarkup;
        } else if (c == '%') {
            // A parameter entity may declare entities the scanner never sees.
            scan.entitiesMayHoldMarkup = true;
            state = State::peReference;
        } else {
            fail();
        }
        return;
    case State::peReference:
        if (c == ';') state = State::subset;
        return;
    case State::subsetMarkup:
        if (c == '?') {
            state = State::pi;
            resume = State::subset;
            question = false;
        } else if (c == '!') {
            state = State::subsetBang;
        } else {
            fail();
        }
        return;
    case State::subsetBang:
        if (c == '-') {
            state = State::commentOpen;
            resume = State::subset;
        } else {
            declaration.assign(1, ascii(c));
            declarationLong = false;
            quote = 0;
            state = State::declaration;
        }
        return;
    case State::declaration:
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            if (declarationLong || entityMayHoldMarkup(declaration)) scan.entitiesMayHoldMarkup = true;
            state = State::subset;
            return;
        }
        if (declaration.size() < kDeclarationCap) {
            declaration += ascii(c);
        } else {
            declarationLong = true;
        }
        return;
    case State::subsetEnd:
        if (c == '>') {
            state = State::text;
        } else if (!isSpace(c)) {
            fail();
        }
        return;
    }
}

void BookScanner::Machine::beginStartTag() {
    wantId = nameIs("binary") && !stack.empty() && stack.back().fictionBook;
    hasId = false;
    idLong = false;
    idRaw.clear();
}

void BookScanner::Machine::endStartTag(bool empty, std::uint64_t at) {
    state = State::text;
    const Open* parent = stack.empty() ? nullptr : &stack.back();
    if (parent == nullptr) {
        if (rootSeen) return fail();
        rootSeen = true;
    }
    const std::uint64_t contentStart = bytes(empty ? slashAt : at + 1);
    const std::uint64_t contentEnd = empty ? contentStart : 0;  // known at the end tag
    if (parent != nullptr && parent->firstOf >= 0) {
        ScannedLevel& level = scan.levels[static_cast<std::size_t>(parent->firstOf)];
        ++level.childElements;
        level.lastChildStart = bytes(tagStart);
        level.lastChildContentStart = contentStart;
        level.lastChildContentEnd = contentEnd;
    }
    std::int32_t binary = -1;
    if (wantId) {
        ScannedBinary entry;
        entry.hasId = hasId;
        entry.idKnown = !hasId || (!idLong && decodeAttributeValue(idRaw, charset, entry.id));
        entry.emptyTag = empty;
        entry.contentStart = contentStart;
        entry.contentEnd = contentEnd;
        binary = static_cast<std::int32_t>(scan.binaries.size());
        scan.binaries.push_back(std::move(entry));
    }
    int chain = -1;
    if (parent == nullptr) {
        chain = nameIs(kLevelNames[0]) ? 0 : -1;
    } else if (parent->chain >= 0 && parent->chain < 3 && nameIs(kLevelNames[parent->chain + 1])) {
        chain = parent->chain + 1;
    }
    int firstOf = -1;
    if (chain >= 0 && !scan.levels[static_cast<std::size_t>(chain)].found) {
        ScannedLevel& level = scan.levels[static_cast<std::size_t>(chain)];
        level.found = true;
        level.name = name;
        level.start = bytes(tagStart);
        level.emptyTag = empty;
        if (empty) level.closeAt = contentStart;
        firstOf = chain;
    }
    if (!empty) {
        std::int8_t childOf = parent != nullptr ? parent->firstOf : std::int8_t(-1);
        stack.push_back({nameHash, binary, static_cast<std::int8_t>(chain), static_cast<std::int8_t>(firstOf), childOf,
                         nameIs("FictionBook")});
    }
}

void BookScanner::Machine::endEndTag() {
    state = State::text;
    if (stack.empty() || stack.back().nameHash != nameHash) return fail();
    Open closed = stack.back();
    stack.pop_back();
    const std::uint64_t at = bytes(tagStart);
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
    m.scan.complete = !m.failed && m.pendingByte < 0 && m.state == State::text && m.stack.empty() && m.rootSeen &&
                      m.scan.encoding != BookEncoding::unsupported;
    return std::move(m.scan);
}

bool scanBookFile(const char* path, BookScan& out) {
    out = BookScan();
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return false;
    BookScanner scanner;
    std::vector<unsigned char> block(kBlock);
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::readSome(file, block.data(), static_cast<std::uint32_t>(block.size()), got)) return false;
        if (got == 0) break;
        scanner.feed(block.data(), got);
    }
    out = scanner.finish();
    return true;
}

}  // namespace vellum
