// UTF-8 and UTF-16, the two forms of Unicode text the library meets: UTF-8 is its
// own, UTF-16 is MSXML's and the Unicode host interface's. The same on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::platform {

// A lone surrogate is no character: it becomes a space " ", as a character that a
// code page cannot hold does.
std::string utf8FromUtf16(std::u16string_view text);
// A byte that starts no valid UTF-8 sequence becomes U+FFFD, and the walk moves on
// by one byte.
std::u16string utf16FromUtf8(std::string_view text);

// Decodes the code point at text[i] and moves i past it (by one byte for a
// malformed sequence, which gives U+FFFD).
std::uint32_t nextCodePoint(std::string_view text, std::size_t& i);

}  // namespace vellum::platform
