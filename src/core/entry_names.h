// The names and paths the host is shown and hands over, and their limits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vellum {

// The generated index entry.
inline constexpr std::string_view kIndexName = "files.bbs";

// The longest path the host's 8-bit interface joins (its buffer holds 33000 bytes
// with the terminating zero). Longer paths are refused rather than cut, which would
// name another file.
inline constexpr std::size_t kMaxPathLength = 32999;

// The longest name a 260-byte field of the host's 8-bit records holds: names and
// content types are cut to this many bytes.
inline constexpr std::size_t kMaxHostName = 258;
std::string_view boundName(std::string_view hostText, std::size_t limit = kMaxHostName);

// The file name the host is given for an id. A book is untrusted: path separators,
// drive colons and control characters become "_", and an empty, "." or ".." name
// gets a "_" in front, so the host never writes outside the folder the user chose.
// Every id a valid book can have (an XML ID) comes back unchanged.
std::string safeEntryName(std::string_view id);

}  // namespace vellum
