// The guard against entity expansion in books read through libxml2. Entity
// references are expanded where text is read (attribute values while parsing,
// element text when it is asked for), and a book could declare entities whose
// expansion explodes: nested ones ("billion laughs") or one large entity used many
// times. A book whose references would expand to more than kMaxEntityExpansion bytes
// in all is not loaded, so reading any text of a loaded book stays small.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstddef>
#include <string>

namespace vellum::libxml {

inline constexpr std::size_t kMaxEntityExpansion = 16u << 20;

// Counts what the parser expands while it parses: every entity it dereferences
// passes the count (for element content once per reference, for attribute values
// at every level of nesting), and past the bound the parse is stopped. Attached to
// one parser context, whose _private it takes, for the length of its parse.
class EntityBudget {
public:
    void attach(xmlParserCtxtPtr parser);
    bool exceeded() const { return exceeded_; }

private:
    static xmlEntityPtr getEntity(void* user, const xmlChar* name);
    std::size_t entityBytes_ = 0;
    bool exceeded_ = false;
};

// True when all entity references of a parsed book, in element content and in
// attribute values, expand to at most kMaxEntityExpansion bytes together.
bool expansionWithinLimit(xmlDocPtr doc);

// Appends the text below `first` and its siblings to `out`, in document order,
// expanding entity references within the bound. False when the bound is passed.
bool appendExpandedText(xmlNodePtr first, std::string& out);

}  // namespace vellum::libxml
