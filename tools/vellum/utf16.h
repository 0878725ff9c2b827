// UTF-8, the command's own text, and UTF-16, the text of the plug-in's Unicode
// functions and of the Windows system calls.
#pragma once

#include <string>
#include <string_view>

namespace vellum::tool {

// A byte that starts no valid UTF-8 sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);
// A lone surrogate becomes U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

}  // namespace vellum::tool
