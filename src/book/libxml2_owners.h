// Owners of the libxml2 objects the document service holds: one owner per kind,
// each freeing what it holds once, with libxml2's own function. (A document is
// owned by BookDocument, whose release frees it the same way.)
#pragma once

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <memory>

namespace vellum::libxml {

struct FreeChars {
    void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};
// A string libxml2 allocated for the caller.
using Chars = std::unique_ptr<xmlChar, FreeChars>;

struct FreeParserContext {
    void operator()(xmlParserCtxtPtr context) const noexcept { xmlFreeParserCtxt(context); }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, FreeParserContext>;

struct FreeBuffer {
    void operator()(xmlBufferPtr buffer) const noexcept { xmlBufferFree(buffer); }
};
using Buffer = std::unique_ptr<xmlBuffer, FreeBuffer>;

struct CloseEncoding {
    void operator()(xmlCharEncodingHandlerPtr handler) const noexcept { xmlCharEncCloseFunc(handler); }
};
using EncodingHandler = std::unique_ptr<xmlCharEncodingHandler, CloseEncoding>;

struct FreeNode {
    void operator()(xmlNodePtr node) const noexcept { xmlFreeNode(node); }
};
// A node not (or not yet) in a document's tree; once a tree takes it, release() it.
using DetachedNode = std::unique_ptr<xmlNode, FreeNode>;

struct CloseSave {
    void operator()(xmlSaveCtxtPtr save) const noexcept { xmlSaveClose(save); }
};
// A save in progress. Its close reports whether the last bytes went out, so the
// normal path closes it with close(); the owner only covers the early returns.
using SaveContext = std::unique_ptr<xmlSaveCtxt, CloseSave>;
inline bool close(SaveContext& save) { return xmlSaveClose(save.release()) >= 0; }

}  // namespace vellum::libxml
