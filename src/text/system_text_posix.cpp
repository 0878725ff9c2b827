// Linux hosts hand over UTF-8: the code page is the library's own text.
#include "text/system_text.h"

#include "text/unicode.h"

namespace vellum::text {

CodePageText toCodePage(std::string_view utf8, Unheld) { return {std::string(utf8), true}; }

std::string fromCodePage(std::string_view bytes) { return std::string(bytes); }

std::string_view cutCodePage(std::string_view bytes, std::size_t limit) { return cutUtf8(bytes, limit); }

namespace {

char32_t foldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (foldCase(nextCodePoint(a, i)) != foldCase(nextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

}  // namespace vellum::text
