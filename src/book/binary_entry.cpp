#include "book/binary_entry.h"

#include "book/base64.h"

namespace vellum {

std::optional<BinaryEntry> readBinaryEntry(const Node& element, EntrySizes sizes) {
    // Only an element known to have a child element is rejected here.
    NodeList children;
    std::int32_t childCount = 0;
    if (selectChildElements(element, children) && nodeListLength(children, childCount) && childCount > 0)
        return std::nullopt;
    children.reset();

    BinaryEntry entry;
    if (!attributeText(element, "id", entry.id)) return std::nullopt;
    if (!attributeText(element, "content-type", entry.contentType)) entry.contentType.clear();  // none: empty

    // Accepted from here on.
    if (sizes == EntrySizes::skip) return entry;
    ElementText text;
    if (!elementText(element, text)) return entry;
    entry.textLength = text.utf16Length;
    entry.decodedSize = base64DecodedSize(text.text);
    return entry;
}

}  // namespace vellum
