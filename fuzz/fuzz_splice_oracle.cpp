// The splice checked against the serialiser. For every book the document service
// loads, the same replacement is packed twice through PackFiles, once as the plug-in
// does it and once with the splice switched off (book_splice.h's seam, built into the
// fuzz targets alone), so that the serialiser writes it. Both books must read back as
// the same document: the same elements, attributes, text, comments and processing
// instructions, with every entity expanded, the note's date and time made equal. A
// book that was spliced must also be the original byte for byte outside the replaced
// contents and the note.
//
// Input layout: one byte of flags (bits 0 to 2 choose which of the first three
// entries the host lists are replaced; none set, the first), two bytes of payload
// length (little endian, cut to what is there), the payload, then the book. Each
// replacement file is 24 bytes drawn from a hash of the input, then the payload: its
// Base64 starts with 32 characters the book cannot foresee, which find it in the
// saved bytes.
#include "fuzz_support.h"

#include "book/book_splice.h"
#include "book/document.h"
#include "plugin/wcx.h"
#include "text/system_text.h"
#include "vellum_version.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace vellum::fuzz;

namespace {

// Read through a stream, which goes on after a signal interrupts the read (the
// fuzzer's timer rings while a run goes on).
std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- What the host lists ----

// The names the host lists for the book's entries ("files.bbs" left out), each once:
// a name that another one equals without regard to case is dropped with it, since a
// run would put both files into one element. A name too long for a scratch file is
// left out too.
std::vector<std::string> listedNames(const std::string& book) {
    tOpenArchiveData open{};
    open.ArcName = const_cast<char*>(book.c_str());
    open.OpenMode = PK_OM_LIST;
    HANDLE_WCX handle = OpenArchive(&open);
    std::vector<std::string> names;
    if (handle == nullptr) return names;
    tHeaderData header;
    std::memset(&header, 0, sizeof header);
    while (ReadHeader(handle, &header) == 0) {
        names.emplace_back(header.FileName);
        std::memset(&header, 0, sizeof header);
    }
    CloseArchive(handle);
    if (!names.empty()) names.pop_back();  // files.bbs
    std::vector<std::string> unique;
    for (const std::string& name : names) {
        std::size_t same = 0;
        for (const std::string& other : names) same += vellum::text::sameName(name, other);
        if (same == 1 && name.size() <= 200 && !vellum::text::sameName(name, "files.bbs")) unique.push_back(name);
    }
    return unique;
}

// ---- The replacement files and where their text lands ----

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t hashOf(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
    return h;
}

std::string base64(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return out;
}

// ---- The document as read back ----

xmlParserInputPtr nothingOutside(const char*, const char*, xmlParserCtxtPtr context) {
    return xmlNewStringInputStream(context, reinterpret_cast<const xmlChar*>(""));
}

void escaped(std::string& out, const xmlChar* text) {
    for (const char* p = reinterpret_cast<const char*>(text); p != nullptr && *p != '\0'; ++p) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\r': out += "&#13;"; break;
        default: out += *p;
        }
    }
}

std::string qualified(const xmlNs* ns, const xmlChar* name) {
    std::string out;
    if (ns != nullptr && ns->prefix != nullptr) out = std::string(reinterpret_cast<const char*>(ns->prefix)) + ":";
    return out + reinterpret_cast<const char*>(name);
}

void canonicalNode(const xmlNode* node, std::string& out);

void canonicalChildren(const xmlNode* child, std::string& out) {
    for (; child != nullptr; child = child->next) canonicalNode(child, out);
}

// An element with its namespace declarations and attributes in order of name, its
// children in document order; text with CDATA sections as text; comments and
// processing instructions as they are. Entity references are already expanded.
void canonicalNode(const xmlNode* node, std::string& out) {
    switch (node->type) {
    case XML_ELEMENT_NODE: {
        const std::string name = qualified(node->ns, node->name);
        out += "<" + name;
        std::vector<std::string> parts;
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            std::string part = ns->prefix != nullptr ? " xmlns:" + std::string(reinterpret_cast<const char*>(ns->prefix))
                                                     : std::string(" xmlns");
            part += "=\"";
            escaped(part, ns->href);
            parts.push_back(part + "\"");
        }
        std::sort(parts.begin(), parts.end());
        std::vector<std::string> attributes;
        for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            std::string part = " " + qualified(attr->ns, attr->name) + "=\"";
            xmlChar* value = xmlNodeListGetString(node->doc, attr->children, 1);
            escaped(part, value);
            xmlFree(value);
            attributes.push_back(part + "\"");
        }
        std::sort(attributes.begin(), attributes.end());
        for (const std::string& part : parts) out += part;
        for (const std::string& part : attributes) out += part;
        out += ">";
        canonicalChildren(node->children, out);
        out += "</" + name + ">";
        break;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        escaped(out, node->content);
        break;
    case XML_ENTITY_REF_NODE:
        canonicalChildren(node->children, out);
        break;
    case XML_COMMENT_NODE:
        out += "<!--" + std::string(reinterpret_cast<const char*>(node->content ? node->content : BAD_CAST "")) + "-->";
        break;
    case XML_PI_NODE:
        out += "<?" + std::string(reinterpret_cast<const char*>(node->name)) + " " +
               std::string(reinterpret_cast<const char*>(node->content ? node->content : BAD_CAST "")) + "?>";
        break;
    default:
        break;
    }
}

// The canonical form of the document in `bytes`: every entity expanded (an outside
// one as empty text, as the plug-in reads it), the defaults its DTD declares applied,
// the DTD itself and the XML declaration left out. None when it does not parse.
std::optional<std::string> canonical(const std::string& bytes) {
    xmlExternalEntityLoader loader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(nothingOutside);
    const int options = XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NOERROR |
                        XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options);
    xmlSetExternalEntityLoader(loader);
    if (doc == nullptr) return std::nullopt;
    std::string out;
    for (const xmlNode* child = doc->children; child != nullptr; child = child->next) {
        if (child->type == XML_DTD_NODE) continue;
        canonicalNode(child, out);
        out += "\n";
    }
    xmlFreeDoc(doc);
    return out;
}

// ---- Finding the note ----

// How a book's bytes write ASCII: one byte a character, or UTF-16 in either byte
// order after its byte-order mark (a book the splice saves has one).
struct Encoding {
    unsigned unit = 1;
    bool bigEndian = false;
    std::size_t start = 0;  // the byte-order mark's length

    std::string of(std::string_view ascii) const {
        if (unit == 1) return std::string(ascii);
        std::string out;
        for (char c : ascii) {
            out += bigEndian ? '\0' : c;
            out += bigEndian ? c : '\0';
        }
        return out;
    }
    // The character of the unit at `at`, or 0 when it is not ASCII.
    char at(const std::string& bytes, std::size_t at) const {
        if (unit == 1) return at < bytes.size() ? bytes[at] : '\0';
        if (at + 1 >= bytes.size()) return '\0';
        char high = bytes[at + (bigEndian ? 0 : 1)];
        char low = bytes[at + (bigEndian ? 1 : 0)];
        return high == '\0' && static_cast<unsigned char>(low) < 0x80 ? low : '\0';
    }
    bool aligned(std::size_t at) const { return (at - start) % unit == 0; }
    // Every aligned place where `needle` (already in this encoding) starts.
    std::vector<std::size_t> find(const std::string& bytes, const std::string& needle) const {
        std::vector<std::size_t> found;
        for (std::size_t at = bytes.find(needle, start); at != std::string::npos; at = bytes.find(needle, at + 1))
            if (aligned(at)) found.push_back(at);
        return found;
    }
};

Encoding encodingOf(const std::string& bytes) {
    Encoding e;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') e = {2, false, 2};
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') e = {2, true, 2};
    return e;
}

std::string noteTail(int count) {
    return " " + std::to_string(count) + " items replaced(vellum " VELLUM_BUILD_DATE " " VELLUM_BUILD_TIME ") ";
}

// Where the note's text lies in `bytes`: [first, second). Found by its tail and its
// "v++++1 " with only digits, dots, colons and spaces between.
std::vector<std::pair<std::size_t, std::size_t>> notesIn(const std::string& bytes, const Encoding& e, int count) {
    std::vector<std::pair<std::size_t, std::size_t>> notes;
    const std::string tail = e.of(noteTail(count));
    const std::string head = e.of("v++++1 ");
    for (std::size_t end : e.find(bytes, tail)) {
        std::size_t at = end;
        for (int n = 0; n < 32 && at >= e.start + e.unit; ++n) {
            at -= e.unit;
            char c = e.at(bytes, at);
            if (c == ' ' && at >= head.size() - e.unit && bytes.compare(at + e.unit - head.size(), head.size(), head) == 0) {
                notes.emplace_back(at + e.unit - head.size(), end + tail.size());
                break;
            }
            if (!((c >= '0' && c <= '9') || c == '.' || c == ':' || c == ' ')) break;
        }
    }
    return notes;
}

// The canonical form with the note's date and time taken out.
std::string withoutStamp(std::string text, int count) {
    std::vector<std::pair<std::size_t, std::size_t>> notes = notesIn(text, Encoding{}, count);
    for (auto it = notes.rbegin(); it != notes.rend(); ++it) text.replace(it->first, it->second - it->first, "NOTE");
    return text;
}

// ---- The spliced bytes against the original ----

// One way a region of the saved book may stand in for the original's bytes: saved
// [from, to) in place of `gap` in the original, or of anything (`anyGap`).
struct Choice {
    std::size_t from = 0;
    std::size_t to = 0;
    bool anyGap = false;
    std::string gap;
};
using Hole = std::vector<Choice>;

class ByteCheck {
public:
    ByteCheck(const std::string& saved, const std::string& original, const Encoding& e, std::vector<Hole> holes)
        : s_(saved), o_(original), e_(e), holes_(std::move(holes)) {
        std::sort(holes_.begin(), holes_.end(), [](const Hole& a, const Hole& b) { return a[0].from < b[0].from; });
    }
    bool holds() { return match(0, 0, 0); }

private:
    bool same(std::size_t s, std::size_t o, std::size_t n) const {
        return s + n <= s_.size() && o + n <= o_.size() && s_.compare(s, n, o_, o, n) == 0;
    }
    std::size_t nextFrom(std::size_t hole) const {
        if (hole >= holes_.size()) return s_.size();
        std::size_t first = s_.size();
        for (const Choice& c : holes_[hole]) first = std::min(first, c.from);
        return first;
    }
    bool match(std::size_t hole, std::size_t s, std::size_t o) {
        if (++steps_ > 100000) return false;
        if (hole == holes_.size()) return s_.size() - s == o_.size() - o && same(s, o, s_.size() - s);
        for (const Choice& c : holes_[hole]) {
            if (c.from < s || !same(s, o, c.from - s)) continue;
            const std::size_t gapAt = o + (c.from - s);
            if (!c.anyGap) {
                if (o_.compare(gapAt, c.gap.size(), c.gap) == 0 && match(hole + 1, c.to, gapAt + c.gap.size()))
                    return true;
                continue;
            }
            const std::size_t literal = nextFrom(hole + 1) > c.to ? nextFrom(hole + 1) - c.to : 0;
            const std::string anchor = s_.substr(c.to, std::min<std::size_t>(literal, 64));
            for (std::size_t at = o_.find(anchor, gapAt); at != std::string::npos; at = o_.find(anchor, at + 1))
                if ((at - gapAt) % e_.unit == 0 && match(hole + 1, c.to, at)) return true;
        }
        return false;
    }

    const std::string& s_;
    const std::string& o_;
    Encoding e_;
    std::vector<Hole> holes_;
    std::size_t steps_ = 0;
};

// The ways the note's markup may have gone in around its text [from, to): inside
// one to four new elements (the note and the levels made for it), and either added
// between the original's bytes or opening the empty-element tag of the level it
// goes under (its "/" becomes ">", the new markup, "</" and the level's name).
Hole noteHole(const std::string& s, const Encoding& e, std::size_t from, std::size_t to) {
    std::vector<std::size_t> opens;   // where each start tag right before the text begins, innermost first
    std::vector<std::size_t> closes;  // where each end tag right after it ends
    for (std::size_t at = from; opens.size() < 4 && at >= e.start + 2 * e.unit && e.at(s, at - e.unit) == '>';) {
        std::size_t back = at - e.unit;
        while (back >= e.start + e.unit && e.at(s, back - e.unit) != '<' && e.at(s, back - e.unit) != '>' &&
               e.at(s, back - e.unit) != '\0' && e.at(s, back - e.unit) != ' ')
            back -= e.unit;
        if (back < e.start + e.unit || e.at(s, back - e.unit) != '<' || back == at - e.unit) break;
        if (e.at(s, back) == '/' || e.at(s, back) == '!' || e.at(s, back) == '?') break;  // not a start tag
        at = back - e.unit;
        opens.push_back(at);
    }
    for (std::size_t at = to; closes.size() < opens.size() && e.at(s, at) == '<' && e.at(s, at + e.unit) == '/';) {
        std::size_t end = at + 2 * e.unit;
        while (end < s.size() && e.at(s, end) != '>' && e.at(s, end) != '<' && e.at(s, end) != '\0') end += e.unit;
        if (e.at(s, end) != '>') break;
        at = end + e.unit;
        closes.push_back(at);
    }
    Hole hole;
    const std::string endTag = e.of("</");
    for (std::size_t n = 1; n <= std::min(opens.size(), closes.size()); ++n) {
        const std::size_t start = opens[n - 1];
        const std::size_t end = closes[n - 1];
        hole.push_back({start, end, false, ""});
        // The empty-element form: ">" before, "</name" after, where the original had "/".
        if (start >= e.start + e.unit && e.at(s, start - e.unit) == '>' && s.compare(end, endTag.size(), endTag) == 0) {
            std::size_t close = end + endTag.size();
            while (close < s.size() && e.at(s, close) != '>' && e.at(s, close) != '<' && e.at(s, close) != '\0')
                close += e.unit;
            if (e.at(s, close) == '>') hole.push_back({start - e.unit, close, false, e.of("/")});
        }
    }
    return hole;
}

// A replaced element's new text at [from, to): in place of its old content, or in
// place of the "/" of its empty-element tag, as ">", the text and "</binary".
Hole binaryHole(const std::string& s, const Encoding& e, std::size_t from, std::size_t to) {
    Hole hole{{from, to, true, ""}};
    const std::string endTag = e.of("</binary");
    if (from >= e.start + e.unit && e.at(s, from - e.unit) == '>' && s.compare(to, endTag.size(), endTag) == 0)
        hole.push_back({from - e.unit, to + endTag.size(), false, e.of("/")});
    return hole;
}

// ---- One input ----

struct Counts {
    unsigned long long loaded = 0, compared = 0, spliced = 0, serialiserOnly = 0;
    ~Counts() {
        if (loaded > 0)
            std::fprintf(stderr, "splice oracle: %llu books loaded, %llu saved both ways and compared, %llu of them spliced; %llu saved by the serialiser alone\n",
                         loaded, compared, spliced, serialiserOnly);
    }
};
Counts counts;

int acceptAll(char*, int) { return 1; }

int packInto(const std::string& folder, const std::string& book, const std::string& sources,
             const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) list += name + '\0';
    list += '\0';
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/book.fb2";
    const std::string bytes = readAll(book);
    writeBytes(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::string source = sources + "/";
    return PackFiles(const_cast<char*>(path.c_str()), nullptr, source.data(), list.data(), 0);
}

// Stops the run with `what`, showing where `a` and `b` part.
[[noreturn]] void differ(const char* what, const char* aIs, const std::string& a, const char* bIs,
                         const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    std::size_t from = at > 80 ? at - 80 : 0;
    std::fprintf(stderr, "-- %s, from byte %zu:\n%s\n-- %s:\n%s\n", aIs, from, a.substr(from, 240).c_str(), bIs,
                 b.substr(from, 240).c_str());
    fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int flags = data[0];
    std::size_t payloadSize = static_cast<std::size_t>(data[1]) | (static_cast<std::size_t>(data[2]) << 8);
    payloadSize = std::min(payloadSize, size - 3);
    const std::string payload(reinterpret_cast<const char*>(data + 3), payloadSize);
    const std::string original(reinterpret_cast<const char*>(data + 3 + payloadSize), size - 3 - payloadSize);

    const std::string book = scratchFile("original.fb2");
    writeBytes(book, reinterpret_cast<const std::uint8_t*>(original.data()), original.size());
    if (!vellum::loadBook(book.c_str())) return 0;
    ++counts.loaded;
    std::vector<std::string> listed = listedNames(book);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < std::min<std::size_t>(listed.size(), 3); ++i)
        if (flags & (1 << i)) names.push_back(listed[i]);
    if (names.empty() && !listed.empty()) names.push_back(listed[0]);
    if (names.empty()) return 0;

    // Each name's file, and the Base64 text it must become.
    const std::string sources = scratchFile("sources");
    std::filesystem::create_directories(sources);
    std::vector<std::string> texts;
    const std::uint64_t seed = hashOf(data, size);
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string bytes;
        for (std::uint64_t k = 0; k < 3; ++k) {
            std::uint64_t word = mix(seed ^ mix(i * 8 + k));
            bytes.append(reinterpret_cast<const char*>(&word), 8);
        }
        bytes += payload;
        writeBytes(sources + "/" + names[i], reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        texts.push_back(base64(bytes));
    }

    const std::uint64_t splicesBefore = vellum::save_seam::splicesWritten.load();
    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), acceptAll);
    const int asPlugin = packInto(scratchFile("plugin"), book, sources, names);
    const bool spliced = vellum::save_seam::splicesWritten.load() != splicesBefore;
    vellum::save_seam::declineSplices = true;
    const int bySerialiser = packInto(scratchFile("serialiser"), book, sources, names);
    vellum::save_seam::declineSplices = false;
    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), nullptr);
    std::filesystem::remove_all(sources);

    const std::string a = readAll(scratchFile("plugin/book.fb2"));
    const std::string b = readAll(scratchFile("serialiser/book.fb2"));
    require(bySerialiser != 0 || asPlugin == 0, "the serialiser saved a book the plug-in did not");
    if (asPlugin != 0) require(a == original, "a failed run changed the book");
    if (bySerialiser != 0) require(b == original, "a failed serialiser run changed the book");
    if (asPlugin != 0 || bySerialiser != 0) {
        counts.serialiserOnly += asPlugin == 0;
        return 0;
    }
    ++counts.compared;
    counts.spliced += spliced;

    require(static_cast<bool>(vellum::loadBook(scratchFile("plugin/book.fb2").c_str())), "the saved book does not load");
    std::optional<std::string> canonicalA = canonical(a);
    std::optional<std::string> canonicalB = canonical(b);
    require(canonicalA.has_value() == canonicalB.has_value(), "only one of the two saved books reads back");
    const int count = static_cast<int>(names.size());
    if (canonicalA && withoutStamp(*canonicalA, count) != withoutStamp(*canonicalB, count))
        differ("the spliced book reads back other than the serialised one", "as the plug-in saved it",
               withoutStamp(*canonicalA, count), "as the serialiser saved it", withoutStamp(*canonicalB, count));
    if (!spliced) return 0;

    // Outside the new texts and the note, the spliced book is the original's bytes.
    const Encoding e = encodingOf(original);
    std::vector<Hole> holes;
    for (const std::string& text : texts) {
        std::vector<std::size_t> at = e.find(a, e.of(text.substr(0, 32)));
        require(at.size() == 1, "a replaced element's new text is not once in the spliced book");
        require(a.compare(at[0], e.of(text).size(), e.of(text)) == 0, "a replaced element holds other text");
        holes.push_back(binaryHole(a, e, at[0], at[0] + e.of(text).size()));
    }
    if (!notesIn(original, e, count).empty()) return 0;  // the book already holds a note like this run's
    std::vector<std::pair<std::size_t, std::size_t>> notes = notesIn(a, e, count);
    // A book whose root is not FictionBook gets no note.
    const bool noted = !canonicalB || !notesIn(*canonicalB, Encoding{}, count).empty();
    require(notes.size() == (noted ? 1u : 0u), "the spliced book does not hold the note once, as the serialised one does");
    if (noted) {
        holes.push_back(noteHole(a, e, notes[0].first, notes[0].second));
        require(!holes.back().empty(), "the note is not inside elements of its own");
    }
    if (!ByteCheck(a, original, e, std::move(holes)).holds())
        differ("the spliced book differs from the original outside the edits", "spliced", a, "original", original);
    return 0;
}
