// The XML document service: everything the core asks of the XML library, in nine
// operations plus loadBook. One backend per platform, chosen by CMake: MSXML's
// DOMDocument through COM on Windows (document_msxml.cpp), libxml2 on Linux
// (document_libxml2.cpp).
//
// Documents, node lists and nodes are opaque handles owned by RAII pointers; each is
// released exactly once. All text and paths are UTF-8. A node or node list borrowed from a document must not
// outlive it. Patterns name elements as written in the book (a prefix included when
// there is one), so a default namespace declared on the root does not stop a match.
#pragma once

#include "platform/book_writer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vellum {

struct DocumentHandle;
struct NodeHandle;
struct NodeListHandle;

struct DocumentRelease {
    void operator()(DocumentHandle* document) const noexcept;
};
struct NodeRelease {
    void operator()(NodeHandle* node) const noexcept;
};
struct NodeListRelease {
    void operator()(NodeListHandle* list) const noexcept;
};

// One parsed book.
using BookDocument = std::unique_ptr<DocumentHandle, DocumentRelease>;
// One element of a book.
using Node = std::unique_ptr<NodeHandle, NodeRelease>;
// The result of a selection: a length and items by zero-based index.
using NodeList = std::unique_ptr<NodeListHandle, NodeListRelease>;

// The text of an element as the document holds it. `text` is UTF-8 (a view that
// lives as long as this record and its document); `utf16Length` counts the UTF-16
// code units of the text as the document gives it.
struct ElementText {
    std::string_view text;
    std::int64_t utf16Length = 0;
    std::string storage;  // backs `text` when the text had to be copied or converted
};

// Loads the book at `path`. The load is complete when it returns,
// keeps white space, never resolves external entities or DTDs, and never reaches the
// network. Null when the file is missing, unreadable or not well-formed XML.
BookDocument loadBook(const char* path);

// Selects elements by one of the patterns the core uses: "FictionBook",
// "//FictionBook/binary", "FictionBook/description", ".../document-info",
// ".../history". Results come in document order. False when the selection failed.
bool selectNodes(const BookDocument& document, const char* pattern, NodeList& out);
// Selects the child elements of `element` (the pattern "*").
bool selectChildElements(const Node& element, NodeList& out);

bool nodeListLength(const NodeList& list, std::int32_t& length);
// The item at `index`; false when it cannot be had.
bool nodeListItem(const NodeList& list, std::int32_t index, Node& out);

// The value of attribute `name` of `element`. False when the element has no such
// attribute.
bool attributeText(const Node& element, const char* name, std::string& value);

// Whether elementText counts the text's UTF-16 units (`utf16Length`), which takes a
// pass over it; extraction has no use for the count.
enum class Utf16Length { count, skip };

// The concatenation of the element's descendant text. False when it cannot be read.
// With Utf16Length::skip, `utf16Length` may be left 0.
bool elementText(const Node& element, ElementText& out, Utf16Length length = Utf16Length::count);

// Replaces all children of `element` by one text node. False when the document
// refused it.
bool replaceElementText(const Node& element, std::string_view text);

// Creates an element named `name` in the namespace of `parent`, optionally with a
// text, and appends it as the last child of `parent`. `appended`, when given,
// receives the new element. False when the element could not be created or appended.
bool appendNewElement(const BookDocument& document, const Node& parent, const char* name,
                      std::string_view text, Node* appended);

// Writes the whole document, in the encoding the book declares, through `write`, in
// order. `original` is the book's own file (UTF-8 path), or null when there is none:
// a UTF-16 book is written in UTF-16 again, in its own byte order, with a byte-order
// mark where it has one; and no element or attribute name may come out other than
// the book writes it. Bytes that would not load again as the same document are never
// written; where the serialiser does not keep the declared encoding (Wine's MSXML
// writes UTF-8 under an 8-bit declaration), the book is saved as UTF-8 with a
// declaration that says so (the document's declaration is changed to match). False
// on any failure, or when `write` refused a piece (what was written before is then
// incomplete).
bool saveBook(const BookDocument& document, const char* original, const platform::BookWriter& write);

}  // namespace vellum
