// UTF-8 and UTF-16, the two forms of Unicode text the library and its command meet:
// UTF-8 is their own, UTF-16 is MSXML's, the Unicode host interface's and the Windows
// system calls'. The same on every platform.
//
// Invalid input, everywhere: a byte that starts no valid UTF-8 sequence (a stray
// continuation byte, a lead byte without all its continuation bytes, an overlong
// form, a surrogate, a value past U+10FFFF), and a UTF-16 surrogate without its
// other half, each stand for one character U+FFFD; a walk moves on past that one
// byte or unit. Whoever must tell such input apart uses decodeUtf8 or
// isWellFormed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace vellum::text {

inline constexpr char32_t kReplacement = 0xFFFD;

// The code point of the UTF-8 sequence that starts at units[i], and i moved past it;
// nothing for a byte that starts no valid sequence, i then moved past that byte.
// `units` holds bytes: a string, or wider code units that each hold one byte.
template <typename Units>
std::optional<char32_t> decodeUtf8(const Units& units, std::size_t& i) {
    using Unit = std::make_unsigned_t<std::remove_cvref_t<decltype(units[0])>>;
    auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<Unit>(units[k])); };
    std::uint32_t lead = byte(i++);
    if (lead < 0x80) return lead;
    std::size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                       : 0;
    if (extra == 0 || i + extra > units.size()) return std::nullopt;
    std::uint32_t c = lead & (0x3F >> extra);
    for (std::size_t k = 0; k < extra; ++k) {
        std::uint32_t next = byte(i + k);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    i += extra;
    return c;
}

// The code point at text[i], i moved past it: decodeUtf8 with U+FFFD for what it
// does not take.
char32_t nextCodePoint(std::string_view text, std::size_t& i);

void appendUtf8(std::string& out, char32_t c);
void appendUtf16(std::u16string& out, char32_t c);

std::string utf8FromUtf16(std::u16string_view text);
std::u16string utf16FromUtf8(std::string_view text);

// True when every surrogate in `text` has its other half.
bool isWellFormed(std::u16string_view text);

// The longest start of `text` of at most `limit` bytes (or UTF-16 units) that ends
// between two characters: a cut never splits a UTF-8 sequence or a surrogate pair.
std::string_view cutUtf8(std::string_view text, std::size_t limit);
std::u16string_view cutUtf16(std::u16string_view text, std::size_t limit);

}  // namespace vellum::text
