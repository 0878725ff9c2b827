// The ANSI code page of the system, through the conversions of Windows.
#include "text/system_text.h"

#include "text/unicode.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace vellum::text {

namespace {

// The largest piece one conversion call takes.
constexpr std::size_t kMaxPiece = 1u << 30;

bool utf8CodePage() { return GetACP() == CP_UTF8; }

// Converts UTF-16 to the code page, appending to `out`; false when the system
// refused. `used`, unless null, is set when a default character was written.
bool appendCodePage(std::u16string_view units, DWORD flags, const char* fallback, BOOL* used, std::string& out) {
    auto* wide = reinterpret_cast<LPCWCH>(units.data());
    int length = static_cast<int>(units.size());
    int size = WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, fallback, used);
    if (size <= 0) return false;
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    return WideCharToMultiByte(CP_ACP, flags, wide, length, out.data() + at, size, fallback, used) == size;
}

}  // namespace

CodePageText toCodePage(std::string_view utf8, Unheld unheld) {
    std::u16string text = utf16FromUtf8(utf8);
    CodePageText out;
    for (std::size_t done = 0; done < text.size();) {
        std::u16string_view piece = cutUtf16(std::u16string_view(text).substr(done), kMaxPiece);
        done += piece.size();
        // Where the system code page is UTF-8 every character is written as itself,
        // and the conversion takes neither flags nor a default character.
        if (utf8CodePage()) {
            if (!appendCodePage(piece, 0, nullptr, nullptr, out.text)) return {std::string(), false};
            continue;
        }
        // Without best fit first: a character written as the default is what tells
        // that the text was not exact; only then is the text made again with the
        // best fit the plug-in's host text has always had.
        const char* fallback = unheld == Unheld::question ? "?" : " ";
        std::size_t at = out.text.size();
        BOOL used = FALSE;
        if (!appendCodePage(piece, WC_NO_BEST_FIT_CHARS, fallback, &used, out.text)) return {std::string(), false};
        if (!used) continue;
        out.exact = false;
        if (unheld == Unheld::space) {
            out.text.resize(at);
            if (!appendCodePage(piece, 0, fallback, nullptr, out.text)) return {std::string(), false};
        }
    }
    return out;
}

std::string fromCodePage(std::string_view bytes) {
    std::u16string out;
    for (std::size_t done = 0; done < bytes.size();) {
        std::string_view piece = cutCodePage(bytes.substr(done), kMaxPiece);
        done += piece.size();
        int length = static_cast<int>(piece.size());
        int size = MultiByteToWideChar(CP_ACP, 0, piece.data(), length, nullptr, 0);
        if (size <= 0) return std::string();
        std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(size));
        if (MultiByteToWideChar(CP_ACP, 0, piece.data(), length, reinterpret_cast<LPWSTR>(out.data() + at), size) !=
            size)
            return std::string();
    }
    return utf8FromUtf16(out);
}

std::string_view cutCodePage(std::string_view bytes, std::size_t limit) {
    if (bytes.size() <= limit) return bytes;
    if (utf8CodePage()) return cutUtf8(bytes, limit);
    // A lead byte of a double-byte code page and the byte after it are one character.
    std::size_t keep = 0;
    for (;;) {
        std::size_t next = keep + (IsDBCSLeadByte(static_cast<BYTE>(bytes[keep])) ? 2 : 1);
        if (next > limit) break;
        keep = next;
    }
    return bytes.substr(0, keep);
}

// Ordinal comparison of UTF-16 with simple case mapping, as Windows compares file names.
bool sameName(std::string_view a, std::string_view b) {
    std::u16string x = utf16FromUtf8(a), y = utf16FromUtf8(b);
    if (x.size() > INT_MAX || y.size() > INT_MAX) return false;
    return CompareStringOrdinal(reinterpret_cast<LPCWCH>(x.data()), static_cast<int>(x.size()),
                                reinterpret_cast<LPCWCH>(y.data()), static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace vellum::text
