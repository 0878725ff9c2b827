// The walk over an open book: each step describes the next accepted binary element,
// then "files.bbs", whose text the walk builds line by line.
#pragma once

#include "book/binary_entry.h"
#include "core/book_archive.h"
#include "core/status.h"

#include <cstdint>
#include <string>

namespace vellum {

// One entry as the host is shown it.
struct EntryDescription {
    std::string name;             // the file name (made safe, not cut)
    bool isIndex = false;         // the generated "files.bbs"
    std::int64_t packedSize = 0;  // UTF-16 units of the element's text; 0 for the index
    std::int64_t size = 0;        // the bytes an extraction writes
};

// ok with the next entry described, or endArchive when none is left.
Status readHeader(BookArchive& archive, EntryDescription& entry);

// Appends the index line of `entry` in the host's 8-bit text: the id, spaces up to
// column 13 (at least one), the decoded size, one space, the content type, CR LF.
void appendIndexLine(std::string& indexText, const BinaryEntry& entry);

}  // namespace vellum
