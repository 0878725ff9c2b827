// The system's own text: the 8-bit code page of the host's 8-bit interface (the ANSI
// code page on Windows, UTF-8 itself on Linux, where Double Commander passes UTF-8)
// and how the system compares file names. One implementation per platform
// (system_text_win32.cpp, system_text_posix.cpp), chosen by CMake. Invalid UTF-8 is
// read as unicode.h says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellum::text {

// What becomes of a character the code page cannot hold.
enum class Unheld {
    // The code page's best fit where it has one, else a space " ": the text the
    // plug-in hands its host (names, paths, files.bbs).
    space,
    // "?", and never a best fit, so that a path names no other file: the text the
    // vellum command hands the plug-in.
    question,
};

struct CodePageText {
    std::string text;
    bool exact = true;  // every character is written as itself
};

CodePageText toCodePage(std::string_view utf8, Unheld unheld = Unheld::space);
std::string fromCodePage(std::string_view bytes);

// The longest start of code-page text of at most `limit` bytes that ends between two
// characters: a cut never splits a double-byte character or a UTF-8 sequence.
std::string_view cutCodePage(std::string_view bytes, std::size_t limit);
// `utf8` in the code page (Unheld::space), cut so to at most `limit` bytes.
inline std::string toCodePageCut(std::string_view utf8, std::size_t limit) {
    return std::string(cutCodePage(toCodePage(utf8).text, limit));
}

// True when two names are the same without regard to letter case, as the system
// compares file names: ordinal with simple case mapping on Windows; on Linux simple
// case folding for the scripts book ids are written in (Latin, Greek, Cyrillic).
bool sameName(std::string_view a, std::string_view b);

}  // namespace vellum::text
