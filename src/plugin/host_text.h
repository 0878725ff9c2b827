// The host's two interfaces as the exports meet them: the text of each (8-bit: the
// ANSI code page on Windows, UTF-8 on Linux; Unicode: UTF-16), the names its records
// hold, and the paths and lists it hands over, each turned into the core's own terms.
#pragma once

#include "core/pack_run.h"
#include "plugin/wcx.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::plugin {

struct NarrowText {
    using Char = char;
    static constexpr bool isWide = false;

    // Host text to the core's UTF-8; a null pointer is the empty string.
    static std::string toCore(const char* text);

    // Copies an entry's name into a record field (260 or 1024 bytes), cut to 258 bytes
    // of the host's text as the 8-bit records always were.
    template <std::size_t N>
    static void copyName(char (&field)[N], std::string_view utf8) {
        static_assert(N >= 260);
        copyName(field, utf8);
    }
    static void copyName(char* field, std::string_view utf8);
    // The name under which a record of this interface shows an entry named `name`
    // (cut and in the host's text), in the core's UTF-8.
    static std::string shownName(std::string_view name);

    // The target of an extraction: the host's folder and name joined (or the name as
    // the whole path when there is no folder). Nothing when there is no name or the
    // path is too long for the host's buffer.
    static std::optional<std::string> targetPath(const char* destPath, const char* destName);
    // The names of the host's list (each ended by a zero, the list by an empty name),
    // each with its source path: the source folder and the name, joined as they come.
    // A folder (a name ending with a separator) is left out; a name with a separator
    // inside is refused. The separators are "\" and the platform's own.
    static std::vector<PackName> packNames(const char* srcPath, const char* addList);
};

// The Unicode interface: the same services over UTF-16. A path holding a lone
// surrogate names a file the core's UTF-8 cannot name: it becomes the empty path,
// which opens nothing, rather than the path of another file.
struct WideText {
    using Char = WCHAR_WCX;
    static constexpr bool isWide = true;

    static std::string toCore(const WCHAR_WCX* text);

    // Copies an entry's name into a 1024-unit field: at most 1023 UTF-16 units, never
    // ending between the two halves of a surrogate pair.
    static void copyName(WCHAR_WCX (&field)[1024], std::string_view utf8);
    static std::string shownName(std::string_view id);

    // As NarrowText's, joined and measured in UTF-16 units (at most 32767, the
    // longest path Windows names).
    static std::optional<std::string> targetPath(const WCHAR_WCX* destPath, const WCHAR_WCX* destName);
    static std::vector<PackName> packNames(const WCHAR_WCX* srcPath, const WCHAR_WCX* addList);
};

}  // namespace vellum::plugin
