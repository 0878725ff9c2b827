// Reading one `binary` element into a flat record, and the Base64 character class
// that the size count here and the decoder of extraction share, so that a listed
// size always equals the bytes an extraction writes.
#pragma once

#include "book/document.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace vellum {

// What the core knows of one binary element. Callers clear it (every byte zero)
// before each read; the reader writes only the fields it reaches.
struct BinaryEntry {
    char id[260];           // host 8-bit text, at most 258 characters
    char contentType[260];  // empty without a "content-type" attribute
    std::int32_t textLength;   // UTF-16 code units of the element's text, white space included
    std::int32_t decodedSize;  // bytes the Base64 text decodes to
};

// 1 when the element is accepted (no child element, an "id" attribute), else 0 with
// the record untouched. With `skipSizes` 0 the two sizes are filled too.
std::int32_t readBinaryEntry(BinaryEntry& entry, const Node& element, std::int32_t skipSizes);

// Keeps, in place and in order, only ASCII letters, digits, "+", "/" and "=".
void stripNonBase64(char* text);

// The Base64 value of each byte: 0 to 63 for the alphabet, kBase64Pad for "=",
// kNotBase64 for everything else (white space, punctuation, bytes of 128 and up).
inline constexpr signed char kBase64Pad = -2;
inline constexpr signed char kNotBase64 = -1;
extern const std::array<signed char, 256> kBase64Values;

// The number of bytes `text` decodes to: Base64 characters are counted up to the
// first "=", all other bytes are skipped; 3 per group of four, then 0, 0, 1 or 2.
std::int64_t base64DecodedSize(std::string_view text);

}  // namespace vellum
