// The document service over MSXML's DOMDocument, reached through COM. Handles are
// MSXML's own interface pointers: a DocumentHandle is an IXMLDOMDocument, a
// NodeHandle an IXMLDOMNode and a NodeListHandle an IXMLDOMNodeList, each holding
// one reference that its release functor gives back.
#include "book/document.h"

#include "book/msxml_dom.h"
#include "book/msxml_file_stream.h"
#include "platform/fault_seam.h"
#include "platform/platform.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace vellum {

using namespace msxml;

namespace {

// DOMDocument and IXMLDOMDocument.
constexpr CLSID kDomDocumentClass = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kDomDocumentInterface = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

Bstr wide(std::string_view text) { return Bstr(text::utf16FromUtf8(text)); }

// Entity references are expanded where text is read, and a book could declare
// entities whose expansion explodes: nested ones ("billion laughs") or one large
// entity used many times. A book whose references would expand to more than this
// many characters in all is not loaded (the libxml2 service has the same bound), so
// reading any text of a loaded book stays small.
constexpr std::int64_t kMaxEntityExpansion = 16 << 20;

// The characters that entity references expand to, each entity measured once by
// its name. Saturates just past kMaxEntityExpansion; a node that cannot be walked,
// or an entity met again while it is being measured, counts as too large.
class ExpansionMeter {
public:
    explicit ExpansionMeter(IXMLDOMDocument* document) : document_(document) {}

    static constexpr std::int64_t kTooLarge = kMaxEntityExpansion + 1;

    // The expansion of the entity references among `node`, its following siblings
    // and their descendants; with `countText`, their own text counts too.
    std::int64_t list(ComPtr<IXMLDOMNode> node, bool countText) {
        std::int64_t total = 0;
        std::vector<ComPtr<IXMLDOMNode>> pending;  // first children still to walk
        for (;;) {
            while (node && total < kTooLarge) {
                DOMNodeType type = NODE_INVALID;
                if (FAILED(node->get_nodeType(&type))) return kTooLarge;
                if (type == NODE_ENTITY_REFERENCE) {
                    total = add(total, reference(node.Get()));
                } else if ((type == NODE_TEXT || type == NODE_CDATA_SECTION) && countText) {
                    total = add(total, textLength(node.Get()));
                } else if (type == NODE_ELEMENT) {
                    ComPtr<IXMLDOMNode> child;
                    if (FAILED(node->get_firstChild(child.GetAddressOf()))) return kTooLarge;
                    if (child) pending.push_back(std::move(child));
                }
                ComPtr<IXMLDOMNode> next;
                if (FAILED(node->get_nextSibling(next.GetAddressOf()))) return kTooLarge;
                node = std::move(next);
            }
            if (pending.empty() || total >= kTooLarge) return total;
            node = std::move(pending.back());
            pending.pop_back();
        }
    }

private:
    std::int64_t reference(IXMLDOMNode* reference) {
        Bstr name;
        if (FAILED(reference->get_nodeName(name.receive()))) return kTooLarge;
        std::u16string key(name.text());
        auto [known, fresh] = sizes_.try_emplace(key, kTooLarge);
        if (!fresh) return known->second;
        // MSXML shows an entity's content as the reference's children, walked here
        // without building the text; Wine's shows none.
        std::int64_t size = kTooLarge;
        ComPtr<IXMLDOMNode> child;
        if (FAILED(reference->get_firstChild(child.GetAddressOf()))) {
            size = kTooLarge;
        } else if (child) {
            size = list(std::move(child), true);
        } else {
            size = alone(reference);
        }
        known->second = size;
        return size;
    }

    // The text of a copy of `reference` alone in an element of its own: the
    // expansion of that one reference, for a DOM that shows it only as text.
    std::int64_t alone(IXMLDOMNode* reference) {
        ComPtr<IXMLDOMNode> copy;
        ComPtr<IXMLDOMElement> holder;
        ComPtr<IXMLDOMNode> added;
        Bstr name(u"measure");
        Bstr text;
        if (!name.ok() || !succeeded(reference->cloneNode(VARIANT_TRUE, copy.GetAddressOf()), copy) ||
            !succeeded(document_->createElement(name.get(), holder.GetAddressOf()), holder) ||
            !succeeded(holder->appendChild(copy.Get(), added.GetAddressOf()), added) ||
            FAILED(holder->get_text(text.receive())))
            return kTooLarge;
        return static_cast<std::int64_t>(text.text().size());
    }

    static std::int64_t textLength(IXMLDOMNode* node) {
        ComPtr<IXMLDOMCharacterData> text;
        long length = 0;
        if (FAILED(node->QueryInterface(IID_IXMLDOMCharacterData, reinterpret_cast<void**>(text.GetAddressOf()))) ||
            !text || FAILED(text->get_length(&length)))
            return kTooLarge;
        return length;
    }

    static std::int64_t add(std::int64_t a, std::int64_t b) { return std::min(a + std::min(b, kTooLarge), kTooLarge); }

    IXMLDOMDocument* document_;
    std::map<std::u16string, std::int64_t> sizes_;
};

// True when the entity references of `document` stay within the bound. Only a book
// with a document type declaration can declare entities; others are not walked.
bool expansionWithinBound(IXMLDOMDocument* document) {
    ComPtr<IXMLDOMDocumentType> declaration;
    if (FAILED(document->get_doctype(declaration.GetAddressOf()))) return false;
    if (!declaration) return true;
    // References can stand only inside the root element.
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(root.GetAddressOf()))) return false;
    if (!root) return true;
    ComPtr<IXMLDOMNode> children;
    if (FAILED(root->get_firstChild(children.GetAddressOf()))) return false;
    return ExpansionMeter(document).list(std::move(children), false) <= kMaxEntityExpansion;
}

}  // namespace

void DocumentRelease::operator()(DocumentHandle* document) const noexcept {
    if (document != nullptr) dom(document)->Release();
}
void NodeRelease::operator()(NodeHandle* node) const noexcept {
    if (node != nullptr) dom(node)->Release();
}
void NodeListRelease::operator()(NodeListHandle* list) const noexcept {
    if (list != nullptr) dom(list)->Release();
}

bool msxml::loadConfigured(const VARIANT& source, ComPtr<IXMLDOMDocument>& document) {
    if (!succeeded(CoCreateInstance(kDomDocumentClass, nullptr, CLSCTX_ALL, kDomDocumentInterface,
                                    reinterpret_cast<void**>(document.GetAddressOf())),
                   document))
        return false;
    if (FAILED(document->put_async(VARIANT_FALSE)) || FAILED(document->put_preserveWhiteSpace(VARIANT_TRUE)) ||
        FAILED(document->put_resolveExternals(VARIANT_FALSE)) || FAILED(document->put_validateOnParse(VARIANT_FALSE)))
        return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return SUCCEEDED(document->load(source, &loaded)) && loaded != VARIANT_FALSE;
}

BookDocument loadBook(const char* path) {
    if (path == nullptr) return nullptr;
    // DOMDocument reads the file the platform opens (a path longer than MAX_PATH
    // too), never a path or URL of its own.
    ComPtr<IXMLDOMDocument> document;
    {
        ComPtr<win32::FileStream> stream = win32::FileStream::open(platform::openForReading(path));
        if (!stream) return nullptr;
        Variant source;
        source.setObject(stream.Get());
        bool loaded = loadConfigured(source.get(), document);
        // DOMDocument may keep the stream it loaded from: the file is closed here, so
        // that a save can replace it.
        stream->closeFile();
        if (!loaded) return nullptr;
    }
    if (!expansionWithinBound(document.Get())) return nullptr;
    return BookDocument(reinterpret_cast<DocumentHandle*>(document.Detach()));
}

bool selectNodes(const BookDocument& document, const char* pattern, NodeList& out) {
    out.reset();
    if (!document || pattern == nullptr) return false;
    Bstr query = wide(pattern);
    if (!query.ok()) return false;
    IXMLDOMNodeList* list = nullptr;
    HRESULT status = dom(document.get())->selectNodes(query.get(), &list);
    out.reset(reinterpret_cast<NodeListHandle*>(list));
    return succeeded(status, list);
}

bool selectChildElements(const Node& element, NodeList& out) {
    out.reset();
    if (!element) return false;
    Bstr query(u"*");
    if (!query.ok()) return false;
    IXMLDOMNodeList* list = nullptr;
    HRESULT status = dom(element.get())->selectNodes(query.get(), &list);
    out.reset(reinterpret_cast<NodeListHandle*>(list));
    return succeeded(status, list);
}

bool nodeListLength(const NodeList& list, std::int32_t& length) {
    if (!list) return false;
    long value = 0;
    if (FAILED(dom(list.get())->get_length(&value))) return false;
    length = static_cast<std::int32_t>(value);
    return true;
}

bool nodeListItem(const NodeList& list, std::int32_t index, Node& out) {
    out.reset();
    if (!list) return false;
    IXMLDOMNode* node = nullptr;
    HRESULT status = dom(list.get())->get_item(index, &node);
    out.reset(reinterpret_cast<NodeHandle*>(node));
    return succeeded(status, node);
}

bool attributeText(const Node& element, const char* name, std::string& value) {
    value.clear();
    if (!element || name == nullptr) return false;
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (!succeeded(dom(element.get())->get_attributes(attributes.GetAddressOf()), attributes)) return false;
    Bstr attributeName = wide(name);
    if (!attributeName.ok()) return false;
    ComPtr<IXMLDOMNode> attribute;
    if (!succeeded(attributes->getNamedItem(attributeName.get(), attribute.GetAddressOf()), attribute))
        return false;
    // An attribute whose value cannot be read counts as present and empty.
    Bstr text;
    if (SUCCEEDED(attribute->get_text(text.receive()))) value = text::utf8FromUtf16(text.text());
    return true;
}

bool elementText(const Node& element, ElementText& out, Utf16Length) {
    out = ElementText();
    if (!element) return false;
    Bstr text;
    if (FAILED(dom(element.get())->get_text(text.receive()))) return false;
    std::u16string_view units = text.text();
    out.utf16Length = static_cast<std::int64_t>(units.size());
    out.storage = text::utf8FromUtf16(units);
    out.text = out.storage;
    return true;
}

bool replaceElementText(const Node& element, std::string_view content) {
    if (!element) return false;
    Bstr text = wide(content);
    if (!text.ok()) return false;
    return SUCCEEDED(dom(element.get())->put_text(text.get()));
}

bool appendNewElement(const BookDocument& document, const Node& parent, const char* name, std::string_view content,
                      Node* appended) {
    if (appended != nullptr) appended->reset();
    if (!document || !parent || name == nullptr) return false;
    // The new element takes its parent's namespace, so the saved book carries no xmlns="".
    Bstr space;
    if (FAILED(dom(parent.get())->get_namespaceURI(space.receive()))) return false;
    Bstr elementName = wide(name);
    if (!elementName.ok()) return false;
    Variant type;
    type.setInt(NODE_ELEMENT);
    ComPtr<IXMLDOMNode> created;
    if (!succeeded(dom(document.get())->createNode(type.get(), elementName.get(), space.get(), created.GetAddressOf()),
                   created))
        return false;
    if (!content.empty()) {
        Bstr text = wide(content);
        if (!text.ok() || FAILED(created->put_text(text.get()))) return false;
    }
    ComPtr<IXMLDOMNode> added;
    if (!succeeded(dom(parent.get())->appendChild(created.Get(), added.GetAddressOf()), added)) return false;
    if (appended != nullptr) appended->reset(reinterpret_cast<NodeHandle*>(added.Detach()));
    return true;
}

}  // namespace vellum
