// Reading back the index "files.bbs" that the plug-in writes: one line per element,
// the element's id, spaces, its size, one space, its content type, CR LF.
#pragma once

#include "plugin.h"

#include <string>
#include <vector>

namespace vellum::tool {

// The content types (UTF-8) of the listed elements (all entries but the last, the
// index), read back from the index text as the plug-in writes it (in its 8-bit text),
// whose line i describes entry i. A content type ends at the line end that the next
// entry's line follows, so one holding a line break of its own is still read whole.
// Empty when the text does not match the entries.
std::vector<std::string> contentTypes(const std::vector<Entry>& entries, const std::string& index);

}  // namespace vellum::tool
