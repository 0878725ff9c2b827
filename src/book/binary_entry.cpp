#include "book/binary_entry.h"

#include "book/base64.h"

namespace vellum {

bool readBinaryEntry(BinaryEntry& entry, const Node& element, bool skipSizes) {
    // Only an element known to have a child element is rejected here.
    NodeList children;
    std::int32_t childCount = 0;
    if (selectChildElements(element, children) && nodeListLength(children, childCount) && childCount > 0)
        return false;
    children.reset();

    std::string id;
    if (!attributeText(element, "id", id)) return false;
    entry.id = std::move(id);
    std::string contentType;
    if (attributeText(element, "content-type", contentType)) entry.contentType = std::move(contentType);

    // Accepted from here on.
    if (skipSizes) return true;
    ElementText text;
    if (!elementText(element, text)) return true;
    entry.textLength = text.utf16Length;
    entry.decodedSize = base64DecodedSize(text.text);
    return true;
}

}  // namespace vellum
