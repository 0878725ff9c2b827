// Reading one `binary` element into a flat record. Its sizes come from the same
// Base64 unit the decoder of extraction uses, so that a listed size always equals
// the bytes an extraction writes.
#pragma once

#include "book/document.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vellum {

// What the core knows of one binary element.
struct BinaryEntry {
    std::string id;           // the "id" attribute as the book has it
    std::string contentType;  // empty without a "content-type" attribute
    std::int64_t textLength = 0;   // UTF-16 code units of the element's text, white space included
    std::int64_t decodedSize = 0;  // bytes the Base64 text decodes to
};

// Whether readBinaryEntry counts the sizes, which takes a pass over the element's text.
enum class EntrySizes { count, skip };

// The element's record when it is accepted (no child element, an "id" attribute),
// else nothing. With EntrySizes::skip both sizes are 0.
std::optional<BinaryEntry> readBinaryEntry(const Node& element, EntrySizes sizes);

}  // namespace vellum
