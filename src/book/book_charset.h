// How a book's bytes carry its characters, as far as splicing them and reading an
// id out of them go: the encoding from the byte-order mark and the XML
// declaration, and an attribute value's characters as a parser reports them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum {

// UTF-8 and the ASCII-compatible single-byte encodings are spliced as bytes, UTF-16
// (with its byte-order mark) in 16-bit units; any other encoding is not spliced.
enum class BookEncoding { unsupported, utf8, singleByte, utf16le, utf16be };

// The UTF-16 code unit that two bytes of a book write, in its byte order.
constexpr char16_t utf16Unit(unsigned first, unsigned second, bool littleEndian) {
    return static_cast<char16_t>(littleEndian ? first | second << 8 : first << 8 | second);
}
// Appends `unit` to `out` as two bytes in the given byte order.
inline void appendUtf16Unit(std::string& out, char16_t unit, bool bigEndian) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

struct BookCharset {
    BookEncoding encoding = BookEncoding::unsupported;
    unsigned unitSize = 1;  // bytes per code unit: 2 for UTF-16
    int upperHalf = 0;      // for a single-byte encoding, which table reads bytes 0x80 to 0xFF (0: none)
    unsigned markBytes = 0;  // the byte-order mark's length: 3 for UTF-8, 2 for UTF-16, else 0
};

// The charset of a book that starts with `head`. False while more bytes are needed
// to tell (never when `atEnd`, the whole book being in `head`).
bool detectBookCharset(const std::string& head, bool atEnd, BookCharset& out);

// A reference's name (between "&" and ";"): the five predefined entities and
// character references. False for anything else.
bool resolveReference(std::u16string_view name, std::uint32_t& value);

// What decodeAttributeValue does with a part of a value it cannot read exactly: an
// entity of the book's own (or a reference it cannot resolve), a malformed sequence,
// or a byte of an 8-bit encoding without a table here.
enum class Unreadable {
    fail,  // stop: the value is not to be used
    keep,  // go on: the reference stays as written, the byte or sequence is one U+FFFD
};

// An attribute value as a parser reports it: references resolved, each white-space
// character (a CR LF pair counting as one) a space, the characters decoded into
// UTF-16. `units` holds the book's code units as written (bytes, or UTF-16 units).
// True when every part was read exactly; with Unreadable::fail `out` is then not to
// be used.
bool decodeAttributeValue(std::u16string_view units, const BookCharset& charset, std::u16string& out,
                          Unreadable unreadable = Unreadable::fail);

}  // namespace vellum
