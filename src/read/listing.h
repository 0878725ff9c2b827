// The host's walk over a book: each ReadHeader describes the next accepted binary
// element, then "files.bbs", whose text the walk builds line by line.
#pragma once

#include "book/binary_entry.h"
#include "plugin/book_archive.h"
#include "plugin/wcx.h"

#include <string>

namespace vellum {

// 0 with the next entry described in `header`, or E_END_ARCHIVE when none is left.
int readHeader(BookArchive& archive, tHeaderData& header);

// Appends the index line of `entry`: the id, spaces up to column 13 (at least one),
// the decoded size, one space, the content type, CR LF.
void appendIndexLine(std::string& indexText, const BinaryEntry& entry);

// The file name the host is given for an id. A book is untrusted: path separators,
// drive colons and control characters become "_", and an empty, "." or ".." name
// gets a "_" in front, so the host never writes outside the folder the user chose.
// Every id a valid book can have (an XML ID) comes back unchanged.
std::string safeEntryName(const char* id);

}  // namespace vellum
