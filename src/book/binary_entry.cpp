#include "book/binary_entry.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vellum {

namespace {

constexpr std::array<signed char, 256> makeBase64Values() {
    std::array<signed char, 256> values{};
    for (auto& v : values) v = kNotBase64;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    values['='] = kBase64Pad;
    return values;
}


// Copies at most 258 characters, as the host's 260-byte name fields allow.
void copyBounded(char (&field)[260], const std::string& text) {
    std::size_t n = std::min<std::size_t>(text.size(), sizeof field - 2);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace

const std::array<signed char, 256> kBase64Values = makeBase64Values();

std::int64_t base64DecodedSize(std::string_view text) {
    // Counting stops at the first "="; before it, every alphabet character counts.
    // Listing a large book is mostly this loop, so it is written to vectorise:
    // no table, no early exit, a 32-bit count per block.
    std::size_t pad = text.find('=');
    if (pad != std::string_view::npos) text = text.substr(0, pad);
    std::int64_t n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t left = text.size(); left > 0;) {
        std::size_t block = std::min<std::size_t>(left, 1u << 20);
        std::uint32_t count = 0;
        for (std::size_t i = 0; i < block; ++i) {
            unsigned char c = p[i];
            unsigned char folded = c | 0x20;
            count += (static_cast<unsigned char>(folded - 'a') < 26) | (static_cast<unsigned char>(c - '0') < 10) |
                     (c == '+') | (c == '/');
        }
        n += count;
        p += block;
        left -= block;
    }
    static constexpr int kTail[4] = {0, 0, 1, 2};
    return 3 * (n / 4) + kTail[n % 4];
}

void stripNonBase64(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in)
        if (kBase64Values[static_cast<unsigned char>(*in)] != kNotBase64) *out++ = *in;
    *out = '\0';
}

std::int32_t readBinaryEntry(BinaryEntry& entry, const Node& element, std::int32_t skipSizes) {
    // Only an element known to have a child element is rejected here.
    NodeList children;
    std::int32_t childCount = 0;
    if (selectChildElements(element, children) && nodeListLength(children, childCount) && childCount > 0)
        return 0;
    children.reset();

    std::string id;
    if (!attributeText(element, "id", id)) return 0;
    copyBounded(entry.id, id);
    std::string contentType;
    if (attributeText(element, "content-type", contentType)) copyBounded(entry.contentType, contentType);

    // Accepted from here on.
    if (skipSizes != 0) return 1;
    ElementText text;
    if (!elementText(element, text)) return 1;
    entry.textLength = static_cast<std::int32_t>(std::min<std::int64_t>(text.utf16Length, INT32_MAX));
    entry.decodedSize = static_cast<std::int32_t>(std::min<std::int64_t>(base64DecodedSize(text.ansi), INT32_MAX));
    return 1;
}

}  // namespace vellum
