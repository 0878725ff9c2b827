// The host's 8-bit interface as the exports meet it: its text (the ANSI code page
// on Windows, UTF-8 on Linux), the names its records hold, and the paths and lists
// it hands over, each turned into the core's own terms.
#pragma once

#include "core/pack_run.h"
#include "plugin/wcx.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::plugin {

struct NarrowText {
    using Char = char;
    using ProcessDataProc = tProcessDataProc;
    using HostString = std::string;

    // Host text to the core's UTF-8; a null pointer is the empty string.
    static std::string toCore(const char* text);
    static std::string fromCore(std::string_view utf8);
    static char* data(std::string& text) { return text.data(); }

    // Copies an entry's name into a record field, cut to what the field holds.
    static void copyName(char (&field)[260], std::string_view utf8);
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

}  // namespace vellum::plugin
