// What the files of the MSXML document service share: the handles seen as MSXML's
// own interfaces, how a call's status is judged, and a document loaded as every book
// is loaded.
#pragma once

#include "book/document.h"
#include "platform/win32_owners.h"

#include <msxml.h>

namespace vellum::msxml {

using win32::Bstr;
using win32::ComPtr;
using win32::Variant;

inline IXMLDOMDocument* dom(const DocumentHandle* d) {
    return reinterpret_cast<IXMLDOMDocument*>(const_cast<DocumentHandle*>(d));
}
inline IXMLDOMNode* dom(const NodeHandle* n) { return reinterpret_cast<IXMLDOMNode*>(const_cast<NodeHandle*>(n)); }
inline IXMLDOMNodeList* dom(const NodeListHandle* l) {
    return reinterpret_cast<IXMLDOMNodeList*>(const_cast<NodeListHandle*>(l));
}

// A status is judged by its sign; a success without the object asked for is a failure too.
inline bool succeeded(HRESULT status, const void* result) { return SUCCEEDED(status) && result != nullptr; }
// The same for a call that fills `result`; taken by reference, so the pointer is read
// after the call has run.
template <typename T>
bool succeeded(HRESULT status, const ComPtr<T>& result) {
    return SUCCEEDED(status) && result != nullptr;
}

// Creates a document set as every book is loaded (complete when the load returns,
// white space between inline elements kept, no external entity or DTD ever loaded)
// and loads `source` (a path or a stream) into it. False when it could not be made,
// or the load failed.
bool loadConfigured(const VARIANT& source, ComPtr<IXMLDOMDocument>& document);

}  // namespace vellum::msxml
