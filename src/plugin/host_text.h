// The host's two interfaces as the exports meet them: the text of each (8-bit: the
// system's code page, UTF-8 on Linux; Unicode: UTF-16), the limits of its buffers and
// records, and the paths, lists, names and index text it hands over or is shown,
// each turned into or out of the core's UTF-8. What differs between the interfaces
// is in NarrowText and WideText; the rest is written once over them.
#pragma once

#include "core/entry_names.h"
#include "core/listing.h"
#include "core/pack_run.h"
#include "plugin/wcx.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::plugin {

// The 8-bit interface. Its buffers hold a path of 32999 bytes with the zero, and a
// 260-byte field of its records a name of at most 258 bytes (as the host's own
// copies into such a field keep), cut between characters. Every 8-bit text names
// what UTF-8 can.
struct NarrowText {
    using Char = char;
    static constexpr std::size_t kMaxPath = 32999;
    static constexpr NameBound kNames{NameBound::Unit::codePageByte, 258};
    static std::string toUtf8(std::string_view text) { return text::fromCodePage(text); }
    static bool exact(std::string_view) { return true; }

    template <std::size_t N>
    static void copyName(char (&field)[N], std::string_view utf8) {
        static_assert(N >= 260);
        copyName(static_cast<char*>(field), utf8);
    }
    static void copyName(char* field, std::string_view utf8);
};

// The Unicode interface. A path is at most 32767 UTF-16 units, the longest Windows
// names, and a 1024-unit field holds a name of at most 1023 units, never ending
// inside a surrogate pair. Text that holds a lone surrogate is not exact: it names a
// file the core's UTF-8 cannot.
struct WideText {
    using Char = WCHAR_WCX;
    static constexpr std::size_t kMaxPath = 32767;
    static constexpr NameBound kNames{NameBound::Unit::utf16Unit, 1023};
    static std::string toUtf8(std::u16string_view text) { return text::utf8FromUtf16(text); }
    static bool exact(std::u16string_view text) { return text::isWellFormed(text); }
    static void copyName(WCHAR_WCX (&field)[1024], std::string_view utf8);
};

// No path the interfaces join is longer, in UTF-8, than the core takes.
static_assert(3 * NarrowText::kMaxPath <= kLongestPath && 3 * WideText::kMaxPath <= kLongestPath);

// Host text as the core takes it. A null pointer, and text that names what UTF-8
// cannot, is the empty path, which opens nothing (never the path of another file).
template <typename Text>
std::string toCore(const typename Text::Char* text);

// The target of an extraction: the host's folder and name joined with the platform's
// separator, or the name as the whole path when there is no folder. Nothing when
// there is no name, or the path is longer than the interface joins or names what
// UTF-8 cannot.
template <typename Text>
std::optional<std::string> targetPath(const typename Text::Char* destPath, const typename Text::Char* destName);

// The names of the host's list (each ended by a zero, the list by an empty name),
// each with its source path: the source folder and the name, joined as they come
// (the host ends the folder with a separator). A name that holds a separator ("\"
// and the platform's own) names a folder ("new folder\") or a file below one, which a
// book has not: it is refused.
template <typename Text>
std::vector<PackName> packNames(const typename Text::Char* srcPath, const typename Text::Char* addList);

// Appends the line of `entry` to the text of "files.bbs", which is in the 8-bit text
// whatever the interface: the id, spaces up to column 13 (at least one), the decoded
// size, one space, the content type, CR LF; the id and the content type each cut as
// a name of a 260-byte field.
void appendIndexLine(std::string& indexText, const EntryDescription& entry);

}  // namespace vellum::plugin
