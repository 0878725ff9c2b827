// The walk over an open book: each step describes the next accepted binary element,
// then "files.bbs".
#pragma once

#include "core/book_archive.h"
#include "core/status.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>

namespace vellum {

// One entry as the core describes it, in UTF-8.
struct EntryDescription {
    platform::EntryKind kind = platform::EntryKind::binary;
    std::string name;             // the file name the host is shown (made safe, not cut)
    std::string id;               // a binary element's id as the book has it
    std::string contentType;      // a binary element's content type, empty without one
    std::int64_t packedSize = 0;  // UTF-16 units of the element's text; 0 for the index
    // The bytes an extraction writes; 0 for the index, whose text the caller keeps
    // (the index is in the host's text, which the core does not speak).
    std::int64_t size = 0;
};

// ok with the next entry described, or endArchive when none is left.
Status readHeader(BookArchive& archive, EntryDescription& entry);

}  // namespace vellum
