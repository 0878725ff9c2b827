// The names the host is shown for a book's entries, and the longest name it hands back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellum {

// The generated index entry.
inline constexpr std::string_view kIndexName = "files.bbs";

// The longest path, in bytes of UTF-8, that a host hands over: its interfaces join at
// most 32999 bytes of 8-bit text or 32767 UTF-16 units, each at most three bytes of
// UTF-8 (the plug-in layer checks its own limits against this). No name is longer.
inline constexpr std::size_t kLongestPath = 3 * 32999;

// The file name the host is given for an id. A book is untrusted: path separators,
// drive colons and control characters become "_", and an empty, "." or ".." name
// gets a "_" in front, so the host never writes outside the folder the user chose.
// Every id a valid book can have (an XML ID) comes back unchanged.
std::string safeEntryName(std::string_view id);

}  // namespace vellum
