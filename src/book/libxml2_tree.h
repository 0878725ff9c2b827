// Walking a libxml2 document's elements, shared by the document service and its
// entity-expansion guard.
#pragma once

#include <libxml/tree.h>

#include <cstddef>

namespace vellum::libxml {

// Visits the elements of the tree in document order without recursion (a book may
// nest deeply), descending at most `maxDepth` levels below the document.
template <typename Visit>
void walkElements(xmlDocPtr doc, std::size_t maxDepth, Visit visit) {
    xmlNodePtr node = doc->children;
    std::size_t depth = 1;
    while (node != nullptr) {
        if (node->type == XML_ELEMENT_NODE) {
            visit(node);
            if (depth < maxDepth && node->children != nullptr) {
                node = node->children;
                ++depth;
                continue;
            }
        }
        while (node != nullptr && node->next == nullptr) {
            node = node->parent;
            --depth;
            if (node == nullptr || node->type == XML_DOCUMENT_NODE) return;
        }
        if (node != nullptr) node = node->next;
    }
}

}  // namespace vellum::libxml
