// The parts of the book scanner, one for each kind of thing a book's markup holds:
// the text with the comments, CDATA sections and processing instructions in it
// (book_scan_text.cpp); start and end tags with their attributes
// (book_scan_tags.cpp); the document type declaration with its internal subset
// (book_scan_doctype.cpp). Each part reads one character at a time into a record of
// its own and says by its result where what it reads ends; the scanner
// (book_scan.cpp) hands the characters to the part that reads them and keeps what
// the elements tell. For speed the scanner itself skips text and the attribute
// values not kept to the character that ends them, and adds a name's characters a
// run at a time, as the parts would. Characters are code points of the book's
// encoding (or its bytes, for an 8-bit one); only ASCII characters are markup.
//
// References need no reading of their own: the text and the attribute values they
// stand in are skipped, except the kept values (a binary's id and content type),
// whose references decodeAttributeValue resolves, and a binary's content, whose
// counting (book_scan_content.cpp) notes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::scan {

inline bool isSpace(std::uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
// The character as ASCII markup; every other character stands as 0x80.
inline char ascii(std::uint32_t c) { return c < 0x80 ? static_cast<char>(c) : '\x80'; }

// A comment, CDATA section or processing instruction, in the text or in the
// DOCTYPE's subset, from just after what opens it ("<!-", "<![CDATA[", "<?") to the
// ">" that closes it: `times` or more of `mark` in a row, then ">". A comment's
// second "-" is still to come when it begins.
struct Aside {
    std::uint32_t mark = 0;
    int times = 0;
    bool opening = false;  // the comment's second "-" is still to come
    int run = 0;           // `mark` in a row so far
};
inline constexpr Aside kComment{'-', 2, true};
inline constexpr Aside kCdata{']', 2};
inline constexpr Aside kInstruction{'?', 1};

enum class AsideStep : std::uint8_t { reading, ended, malformed };

inline AsideStep readAside(Aside& aside, std::uint32_t c) {
    if (aside.opening) {
        aside.opening = false;
        return c == '-' ? AsideStep::reading : AsideStep::malformed;
    }
    if (c == aside.mark) {
        ++aside.run;
        return AsideStep::reading;
    }
    bool ends = c == '>' && aside.run >= aside.times;
    aside.run = 0;
    return ends ? AsideStep::ended : AsideStep::reading;
}

// ---- Text ----

// Character data, and what stands in it other than tags and the DOCTYPE.
struct TextReader {
    enum class State : std::uint8_t {
        text,          // character data
        lessThan,      // just after "<"
        bang,          // just after "<!"
        cdataKeyword,  // in "CDATA[" after "<!["
        aside,         // in a comment, CDATA section or processing instruction
    };
    State state = State::text;
    int keywordMatched = 0;  // letters of "CDATA[" read
    Aside aside;
};

enum class TextStep : std::uint8_t {
    reading,
    aside,     // the character begins a comment, CDATA section or processing instruction
    markup,    // the character is a "<" of markup
    startTag,  // the character begins the name of a start tag
    endTag,    // the character is the "/" of an end tag
    doctype,   // the character is the "D" of "<!DOCTYPE"
    malformed,
};

TextStep readText(TextReader& text, std::uint32_t c);

// ---- A binary's content ----

// What a reader needs of a binary element's text, counted over its content a run at
// a time (a run ends at the next "<"). Nearly all of a large book is such content,
// so the counting is written to vectorise (book_scan_content.cpp).
struct ContentTally {
    std::uint64_t units = 0;     // UTF-16 units, each CR LF pair counting as one (as a parser reads it)
    std::uint64_t alphabet = 0;  // Base64 alphabet characters before the first "="
    bool padded = false;         // a "=" has been met: nothing after it counts as alphabet
    bool reference = false;      // an "&" has been met
    bool endsInCr = false;       // the last unit counted is a CR, whose LF may begin the next run
};

// Counts a run of content in 8-bit units (UTF-8 when `utf8`, else a single-byte
// encoding) or in UTF-16 units.
void tallyContent(ContentTally& tally, const unsigned char* run, std::size_t n, bool utf8);
void tallyContent(ContentTally& tally, const char16_t* run, std::size_t n);

// ---- Tags ----

// An element's name as written: its first kNameCap characters (no name the scanner
// looks for is longer) and a hash of all of it, which pairs an end tag with its
// start tag.
struct ElementName {
    static constexpr std::size_t kNameCap = 64;
    std::string text;  // ASCII; any other character stands as 0x80
    bool tooLong = false;
    std::uint32_t hash = kHashStart;  // FNV-1a

    static constexpr std::uint32_t kHashStart = 2166136261u;
    void clear() {
        text.clear();  // keeps its storage: a book has many tags
        tooLong = false;
        hash = kHashStart;
    }
    void add(std::uint32_t c) {
        hash = (hash ^ c) * 16777619u;
        if (text.size() < kNameCap) {
            text += ascii(c);
        } else {
            tooLong = true;
        }
    }
    bool is(const char* name) const { return !tooLong && text == name; }
};

// An attribute value kept as written, for the scanner to decode.
struct KeptValue {
    // A longer value is kept up to here: it is not compared, and a reader is shown
    // its start, far longer than any name a host shows.
    static constexpr std::size_t kCap = 1 << 16;

    bool present = false;
    bool tooLong = false;
    std::u16string units;  // the value's code units as written

    void clear() {
        present = false;
        tooLong = false;
        units.clear();
    }
    void add(std::uint32_t c) {
        if (units.size() < kCap) {
            units += static_cast<char16_t>(c);
        } else {
            tooLong = true;
        }
    }
};

// A start or end tag, from the character after its "<" to its ">".
struct TagReader {
    enum class State : std::uint8_t {
        startName,       // a start tag's name
        attributes,      // between attributes
        attributeName,
        beforeEquals,    // space after an attribute's name
        beforeValue,     // after "="
        value,           // an attribute's value, up to `quote`
        emptyEnd,        // after the "/" of "/>"
        endName,         // an end tag's name
        afterEndName,    // space after an end tag's name
    };
    // The attributes a binary's tag is read for, kept only where the scanner asks
    // for them (wantId, wantType).
    enum class Kept : std::uint8_t { none, id, type };

    State state = State::startName;
    ElementName name;
    std::uint64_t slashAt = 0;  // the "/" of an empty-element tag
    // Its first letters: enough to tell "id" and "content-type" from any longer name.
    std::string attributeName;
    std::uint32_t quote = 0;  // the quote that ends the value being read
    bool wantId = false;
    bool wantType = false;
    Kept keeping = Kept::none;  // whose value is being read
    KeptValue id;
    KeptValue type;  // "content-type"

    KeptValue* kept() { return keeping == Kept::id ? &id : keeping == Kept::type ? &type : nullptr; }
    // A value that is not kept, or no longer (past the cap), is skipped to its
    // closing quote.
    bool skippingValue() const {
        return state == State::value && (keeping == Kept::none || (keeping == Kept::id ? id : type).tooLong);
    }
    // A name is read a run of characters at a time (continuesName).
    bool inName() const { return state == State::startName || state == State::endName; }
};

// Whether `c` goes on the name being read (inName), as readTag would take it; the
// character that ends the name is for readTag.
inline bool continuesName(const TagReader& tag, std::uint32_t c) {
    if (c == '>' || isSpace(c)) return false;
    return tag.state == TagReader::State::endName || (c != '/' && c != '<' && c != '=' && c != '"' && c != '\'');
}

enum class TagStep : std::uint8_t {
    reading,
    nameRead,  // a start tag's name ended at the character, which is to be read again
    startTag,  // the character is the ">" of a start tag
    emptyTag,  // the character is the ">" of an empty-element tag
    endTag,    // the character is the ">" of an end tag
    malformed,
};

// A start tag whose name begins with `first`; an end tag, after its "</".
void beginStartTag(TagReader& tag, std::uint32_t first);
void beginEndTag(TagReader& tag);
TagStep readTag(TagReader& tag, std::uint32_t c, std::uint64_t at);

// ---- The document type declaration ----

// "<!DOCTYPE ...>", from the "D", with its internal subset; comments and processing
// instructions in the subset are read here too.
struct DoctypeReader {
    enum class State : std::uint8_t {
        keyword,            // in "OCTYPE"
        head,               // the name and external id, up to "[" or ">"
        subset,             // between the subset's declarations
        subsetLessThan,     // just after "<" in the subset
        subsetBang,         // just after "<!" in the subset
        aside,              // in a comment or processing instruction of the subset
        declaration,        // a markup declaration (ENTITY, ELEMENT, ATTLIST, NOTATION)
        parameterReference, // "%name;" between declarations
        afterSubset,        // after "]", up to ">"
    };
    // A declaration longer than this is not read; its entity counts as one that may
    // hold markup.
    static constexpr std::size_t kDeclarationCap = 1 << 16;

    State state = State::keyword;
    int keywordMatched = 0;   // letters of "OCTYPE" read
    std::uint32_t quote = 0;  // the quote that ends the literal being read (0: none)
    std::string declaration;  // the declaration being read, from its keyword, as ASCII
    bool declarationTooLong = false;
    Aside aside;
    // An entity declared here could put markup into the document where it is
    // referred to (or could not be read); kept across declarations.
    bool entitiesMayHoldMarkup = false;
    // An entity, a default attribute value or a parameter entity reference is
    // declared here: a parser's text or attributes may hold what the bytes do not.
    bool changesContent = false;
};

enum class DoctypeStep : std::uint8_t {
    reading,
    ended,  // the character is the declaration's closing ">"
    malformed,
};

// A DOCTYPE after its "<!D"; what earlier ones found of entities is kept.
void beginDoctype(DoctypeReader& doctype);
DoctypeStep readDoctype(DoctypeReader& doctype, std::uint32_t c);

}  // namespace vellum::scan
