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
// The XML declaration must end within this many bytes of the start.
constexpr std::size_t kHeadCap = 4096;
constexpr std::size_t kBlock = 1 << 18;

const char* const kLevelNames[4] = {"FictionBook", "description", "document-info", "history"};

// The 8-bit encodings whose upper half the scanner can read, for comparing ids.
enum class ByteTable { none, latin1, windows1251, windows1252 };

constexpr char16_t kWindows1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0 to 0xFF: А to я in order
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436,
    0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443,
    0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// windows-1252 from 0x80 to 0x9F; above that it is ISO-8859-1.
constexpr char16_t kWindows1252Low[32] = {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
                                          0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178};

bool isSpace(std::uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
char ascii(std::uint32_t c) { return c < 0x80 ? static_cast<char>(c) : '\x80'; }

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// `name` is `prefix` followed by a decimal number from `low` to `high`.
bool numbered(const std::string& name, std::string_view prefix, int low, int high) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    int value = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        value = value * 10 + (name[i] - '0');
    }
    return value >= low && value <= high;
}

// The ASCII-compatible single-byte encodings a book may be spliced in.
bool singleByteEncoding(const std::string& name, ByteTable& table) {
    table = ByteTable::none;
    if (name == "us-ascii" || name == "ascii" || name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1") {
        table = ByteTable::latin1;
        return true;
    }
    if (name == "windows-1251" || name == "cp1251") {
        table = ByteTable::windows1251;
        return true;
    }
    if (name == "windows-1252" || name == "cp1252") {
        table = ByteTable::windows1252;
        return true;
    }
    return numbered(name, "iso-8859-", 2, 16) || numbered(name, "windows-", 1250, 1258) ||
           numbered(name, "cp", 1250, 1258) || name == "koi8-r" || name == "koi8-u" || name == "ibm866" ||
           name == "cp866";
}

// The encoding named in an XML declaration (lower case), or empty.
std::string declaredEncoding(std::string_view declaration) {
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return "";
    at += 8;
    while (at < declaration.size() && isSpace(static_cast<unsigned char>(declaration[at]))) ++at;
    if (at >= declaration.size() || declaration[at] != '=') return "";
    ++at;
    while (at < declaration.size() && isSpace(static_cast<unsigned char>(declaration[at]))) ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return "";
    std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return "";
    return lowered(declaration.substr(at + 1, end - at - 1));
}

void appendUtf16(std::u16string& out, std::uint32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// A reference's name (between "&" and ";"): the five predefined entities and
// character references. False for anything else.
bool resolveReference(std::u16string_view name, std::uint32_t& value) {
    static const struct {
        std::u16string_view name;
        char value;
    } kPredefined[] = {{u"lt", '<'}, {u"gt", '>'}, {u"amp", '&'}, {u"quot", '"'}, {u"apos", '\''}};
    for (const auto& entity : kPredefined)
        if (name == entity.name) {
            value = static_cast<unsigned char>(entity.value);
            return true;
        }
    if (name.size() < 2 || name[0] != u'#') return false;
    bool hex = name[1] == u'x';
    std::size_t i = hex ? 2 : 1;
    if (i >= name.size() || name.size() > i + 8) return false;
    value = 0;
    for (; i < name.size(); ++i) {
        char16_t c = name[i];
        int digit = c >= u'0' && c <= u'9' ? c - u'0'
                    : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                    : -1;
        if (digit < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    return value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

// An id's value as a parser reports it: references resolved, each white-space
// character (a CR LF pair counting as one) a space, the characters decoded.
// `raw` holds the book's code units: bytes, or UTF-16 units. False when some part
// cannot be read exactly.
bool decodeId(const std::u16string& raw, BookEncoding encoding, ByteTable table, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < raw.size();) {
        std::uint32_t c = raw[i];
        if (c == u'&') {
            std::size_t semi = raw.find(u';', i);
            std::uint32_t value = 0;
            if (semi == std::u16string::npos ||
                !resolveReference(std::u16string_view(raw).substr(i + 1, semi - i - 1), value))
                return false;
            appendUtf16(out, value);
            i = semi + 1;
        } else if (c == u'\r') {
            out += u' ';
            i += i + 1 < raw.size() && raw[i + 1] == u'\n' ? 2 : 1;
        } else if (isSpace(c)) {
            out += u' ';
            ++i;
        } else if (c < 0x80 || encoding == BookEncoding::utf16le || encoding == BookEncoding::utf16be) {
            out += static_cast<char16_t>(c);
            ++i;
        } else if (encoding == BookEncoding::singleByte) {
            char16_t decoded = table == ByteTable::latin1        ? static_cast<char16_t>(c)
                               : table == ByteTable::windows1251 ? kWindows1251[c - 0x80]
                               : table == ByteTable::windows1252 ? (c < 0xA0 ? kWindows1252Low[c - 0x80] : c)
                                                                 : 0;
            if (decoded == 0) return false;
            out += decoded;
            ++i;
        } else {  // UTF-8
            std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            if (length == 0 || i + length > raw.size() || c > 0xF4) return false;
            std::uint32_t value = c & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                if ((raw[i + k] & 0xC0) != 0x80) return false;
                value = (value << 6) | (raw[i + k] & 0x3F);
            }
            if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF) || (length == 3 && value < 0x800) ||
                (length == 4 && value < 0x10000))
                return false;
            appendUtf16(out, value);
            i += length;
        }
    }
    return true;
}

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
    ByteTable table = ByteTable::none;
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

// Finds the encoding from the byte-order mark and the XML declaration. False while
// more bytes are needed; once decided, an encoding the splice does not handle
// fails the scan.
bool BookScanner::Machine::decide(bool atEnd) {
    const std::string& h = head;
    if (h.size() < 4 && !atEnd) return false;
    auto starts = [&](std::string_view bytes) { return h.compare(0, bytes.size(), bytes) == 0; };
    BookEncoding family = BookEncoding::utf8;
    std::size_t mark = 0;
    bool ok = true;
    if (starts("\xEF\xBB\xBF")) {
        mark = 3;
    } else if (starts(std::string_view("\xFF\xFE\0\0", 4))) {
        ok = false;  // UTF-32
    } else if (starts("\xFF\xFE")) {
        family = BookEncoding::utf16le;
        mark = 2;
    } else if (starts("\xFE\xFF")) {
        family = BookEncoding::utf16be;
        mark = 2;
    } else if (h.size() >= 2 && (h[0] == '\0' || h[1] == '\0')) {
        ok = false;  // UTF-16 or UTF-32 without a mark
    } else if (starts("\x4C\x6F\xA7\x94")) {
        ok = false;  // EBCDIC
    }
    bool wide = family == BookEncoding::utf16le || family == BookEncoding::utf16be;
    std::string text;  // the start of the book in ASCII
    if (wide) {
        for (std::size_t i = mark; i + 1 < h.size(); i += 2) {
            unsigned a = static_cast<unsigned char>(h[i]), b = static_cast<unsigned char>(h[i + 1]);
            text += ascii(family == BookEncoding::utf16le ? a | b << 8 : a << 8 | b);
        }
    } else {
        text = h.substr(mark);
    }
    std::string encoding;
    if (ok && text.compare(0, 5, "<?xml") == 0 && text.size() > 5 && isSpace(static_cast<unsigned char>(text[5]))) {
        std::size_t end = text.find("?>");
        if (end == std::string::npos) {
            if (!atEnd && h.size() < kHeadCap) return false;
            ok = false;
        }
        encoding = declaredEncoding(std::string_view(text).substr(0, end));
    } else if (ok && !atEnd && text.size() < 6 && std::string_view("<?xml ").substr(0, text.size()) == text) {
        return false;  // may still become a declaration
    }
    if (ok && family == BookEncoding::utf8 && mark == 3) {
        ok = encoding.empty() || encoding == "utf-8" || encoding == "utf8";
    } else if (ok && wide) {
        ok = encoding.empty() || encoding == "utf-16" ||
             encoding == (family == BookEncoding::utf16le ? "utf-16le" : "utf-16be");
    } else if (ok && !encoding.empty() && encoding != "utf-8" && encoding != "utf8") {
        ok = singleByteEncoding(encoding, table);
        family = BookEncoding::singleByte;
    }
    decided = true;
    scan.encoding = ok ? family : BookEncoding::unsupported;
    scan.unitSize = wide ? 2 : 1;
    if (!ok) fail();
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
        entry.idKnown = !hasId || (!idLong && decodeId(idRaw, scan.encoding, table, entry.id));
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
