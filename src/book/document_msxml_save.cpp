// Saving through MSXML's DOMDocument: the document serialised into memory, loaded
// again and compared with itself and with the book's own file before a byte goes to
// the book.
#include "book/document.h"

#include "book/book_charset.h"
#include "book/markup_names.h"
#include "book/msxml_dom.h"
#include "text/unicode.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

using namespace msxml;

namespace {

// The document serialised into a new stream in memory.
bool serialise(IXMLDOMDocument* document, ComPtr<IStream>& stream) {
    stream.Reset();
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || !stream) return false;
    Variant target;
    target.setObject(stream.Get());
    return SUCCEEDED(document->save(target.get()));
}

// The stream loaded again as every book is loaded.
bool readBack(IStream* stream, ComPtr<IXMLDOMDocument>& copy) {
    copy.Reset();
    LARGE_INTEGER start{};
    Variant source;
    source.setObject(stream);
    return SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) && loadConfigured(source.get(), copy);
}

bool sameMarkup(IXMLDOMNode* a, IXMLDOMNode* b) {
    Bstr first, second;
    if (FAILED(a->get_xml(first.receive())) || FAILED(b->get_xml(second.receive()))) return false;
    UINT length = SysStringLen(first.get());
    return length == SysStringLen(second.get()) &&
           (length == 0 || std::memcmp(first.get(), second.get(), length * sizeof(OLECHAR)) == 0);
}

bool isDeclaration(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    Bstr name;
    return SUCCEEDED(node->get_nodeType(&type)) && type == NODE_PROCESSING_INSTRUCTION &&
           SUCCEEDED(node->get_nodeName(name.receive())) && name.text() == u"xml";
}

// The children of `node` other than the XML declaration, which names the encoding
// and so may differ between two copies of a book.
bool childrenOf(IXMLDOMNode* node, std::vector<ComPtr<IXMLDOMNode>>& children) {
    children.clear();
    ComPtr<IXMLDOMNodeList> list;
    long length = 0;
    if (!succeeded(node->get_childNodes(list.GetAddressOf()), list) || FAILED(list->get_length(&length))) return false;
    for (long i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> child;
        if (!succeeded(list->get_item(i, child.GetAddressOf()), child)) return false;
        if (!isDeclaration(child.Get())) children.push_back(std::move(child));
    }
    return true;
}

// Whether the children of `a` and `b` serialise to the same markup, one child at a
// time; with `descend`, an element child is compared by its tag and then by its
// own children, so that no more than one picture's text is held at once. A document
// type declaration is compared by its type alone here (outsideRoot compares it).
bool sameChildren(IXMLDOMNode* a, IXMLDOMNode* b, bool descend) {
    std::vector<ComPtr<IXMLDOMNode>> first, second;
    if (!childrenOf(a, first) || !childrenOf(b, second) || first.size() != second.size()) return false;
    for (std::size_t i = 0; i < first.size(); ++i) {
        IXMLDOMNode* x = first[i].Get();
        IXMLDOMNode* y = second[i].Get();
        DOMNodeType type = NODE_INVALID, other = NODE_INVALID;
        if (FAILED(x->get_nodeType(&type)) || FAILED(y->get_nodeType(&other)) || type != other) return false;
        if (type == NODE_DOCUMENT_TYPE) continue;
        if (descend && type == NODE_ELEMENT) {
            ComPtr<IXMLDOMNode> tagX, tagY;
            if (!succeeded(x->cloneNode(VARIANT_FALSE, tagX.GetAddressOf()), tagX) ||
                !succeeded(y->cloneNode(VARIANT_FALSE, tagY.GetAddressOf()), tagY) ||
                !sameMarkup(tagX.Get(), tagY.Get()) || !sameChildren(x, y, false))
                return false;
        } else if (!sameMarkup(x, y)) {
            return false;
        }
    }
    return true;
}

// The document's markup outside its root element as the document serialises it:
// its document type declaration, and its comments and processing instructions, the
// XML declaration left out. The root is taken out for the call and put back where it
// was, so the text stays small. No node of the document type declaration is touched:
// Wine's MSXML faults reading the name of one that declares a notation, and
// serialises none on its own.
bool outsideRoot(IXMLDOMDocument* document, std::u16string& markup) {
    ComPtr<IXMLDOMElement> root;
    ComPtr<IXMLDOMNode> next, removed, placed;
    if (!succeeded(document->get_documentElement(root.GetAddressOf()), root) ||
        FAILED(root->get_nextSibling(next.GetAddressOf())) ||
        !succeeded(document->removeChild(root.Get(), removed.GetAddressOf()), removed))
        return false;
    Bstr text;
    const bool read = SUCCEEDED(document->get_xml(text.receive()));
    Variant before;
    if (next) before.setObject(next.Get());
    if (!succeeded(document->insertBefore(removed.Get(), before.get(), placed.GetAddressOf()), placed) || !read)
        return false;
    std::u16string_view all = text.text();
    if (all.substr(0, 5) == u"<?xml") {
        std::size_t end = all.find(u"?>");
        all.remove_prefix(end == std::u16string_view::npos ? all.size() : end + 2);
    }
    markup.assign(all);
    return true;
}

// Whether `copy`, the serialised book read back, is the book again: the same
// children, one by one, and the same markup around the root.
bool sameDocument(IXMLDOMDocument* book, IXMLDOMDocument* copy) {
    if (!sameChildren(book, copy, true)) return false;
    ComPtr<IXMLDOMDocumentType> declaration;
    if (FAILED(book->get_doctype(declaration.GetAddressOf()))) return false;
    if (!declaration) return true;
    std::u16string mine, theirs;
    return outsideRoot(book, mine) && outsideRoot(copy, theirs) && mine == theirs;
}

// Makes the document's XML declaration name UTF-8 (adding one when there is none),
// keeping its version and standalone pseudo-attributes.
bool declareUtf8(IXMLDOMDocument* document) {
    ComPtr<IXMLDOMNode> first;
    if (FAILED(document->get_firstChild(first.GetAddressOf()))) return false;
    std::u16string data = u"version=\"1.0\" encoding=\"UTF-8\"";
    bool replace = first && isDeclaration(first.Get());
    if (replace) {
        Bstr old;
        if (FAILED(first->get_text(old.receive()))) return false;
        std::u16string_view text = old.text();
        std::size_t standalone = text.find(u"standalone");
        if (standalone != std::u16string_view::npos) data += u" " + std::u16string(text.substr(standalone));
    }
    Bstr target(u"xml"), value(data);
    ComPtr<IXMLDOMProcessingInstruction> declaration;
    if (!target.ok() || !value.ok() ||
        !succeeded(document->createProcessingInstruction(target.get(), value.get(), declaration.GetAddressOf()),
                   declaration))
        return false;
    ComPtr<IXMLDOMNode> placed;
    if (replace)
        return succeeded(document->replaceChild(declaration.Get(), first.Get(), placed.GetAddressOf()), placed);
    Variant before;
    if (first) before.setObject(first.Get());
    return succeeded(document->insertBefore(declaration.Get(), before.get(), placed.GetAddressOf()), placed);
}

// The bytes a stream made by CreateStreamOnHGlobal holds, locked for the life of
// this record.
class StreamBytes {
public:
    explicit StreamBytes(IStream* stream) {
        STATSTG stat{};
        if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream, &memory_))) return;
        size_ = static_cast<std::size_t>(stat.cbSize.QuadPart);
        if (size_ > GlobalSize(memory_)) return;
        data_ = static_cast<const unsigned char*>(GlobalLock(memory_));
    }
    ~StreamBytes() {
        if (data_ != nullptr) GlobalUnlock(memory_);
    }
    StreamBytes(const StreamBytes&) = delete;
    StreamBytes& operator=(const StreamBytes&) = delete;
    bool ok() const { return data_ != nullptr; }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    HGLOBAL memory_ = nullptr;
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Replaces the stream by its text in UTF-16 as `form` writes it: in its byte order,
// with a byte-order mark where it has one. MSXML writes a "UTF-16" book little-endian
// with a mark, Wine's MSXML writes UTF-8 whatever the declaration says, and both
// write a book that declares no encoding in UTF-8; the declaration itself stays.
bool toUtf16(ComPtr<IStream>& stream, const TextForm& form) {
    ComPtr<IStream> converted;
    {
        StreamBytes in(stream.Get());
        if (!in.ok() || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &converted)) || !converted) return false;
        const unsigned char* p = in.data();
        const std::size_t size = in.size();
        const bool fromLittle = size >= 2 && p[0] == 0xFF && p[1] == 0xFE;
        const bool fromBig = size >= 2 && p[0] == 0xFE && p[1] == 0xFF;
        const bool big = form.units == TextForm::Units::utf16be;
        std::string out = form.byteOrderMark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
        auto put = [&](char16_t unit) { appendUtf16Unit(out, unit, big); };
        auto flush = [&](bool always) {
            if (!always && out.size() < (1u << 18)) return true;
            ULONG written = 0;
            bool ok = SUCCEEDED(converted->Write(out.data(), static_cast<ULONG>(out.size()), &written)) &&
                      written == out.size();
            out.clear();
            return ok;
        };
        if (fromLittle || fromBig) {
            if (size % 2 != 0) return false;
            for (std::size_t i = 2; i < size; i += 2) {
                put(utf16Unit(p[i], p[i + 1], fromLittle));
                if (!flush(false)) return false;
            }
        } else {
            std::string_view utf8(reinterpret_cast<const char*>(p), size);
            std::u16string units;
            for (std::size_t i = 0; i < utf8.size();) {
                std::optional<char32_t> c = text::decodeUtf8(utf8, i);
                if (!c) return false;
                units.clear();
                text::appendUtf16(units, *c);
                for (char16_t unit : units) put(unit);
                if (!flush(false)) return false;
            }
        }
        if (!flush(true)) return false;
    }
    stream = std::move(converted);
    return true;
}

// Whether the serialised book in `stream` writes the names the book writes, but for
// those a run adds with the history note.
bool sameNames(const MarkupNames& book, IStream* stream) {
    StreamBytes bytes(stream);
    if (!bytes.ok()) return false;
    MarkupNameCounter counter;
    counter.feed(bytes.data(), bytes.size());
    std::optional<MarkupNames> saved = counter.finish();
    return saved && sameNamesBesideTheNote(book, *saved);
}

// Hands the stream's bytes to `write`.
bool writeStream(IStream* stream, const platform::BookWriter& write) {
    StreamBytes bytes(stream);
    if (!bytes.ok() || bytes.size() == 0) return false;
    try {
        return write(bytes.data(), bytes.size());
    } catch (...) {
        return false;
    }
}

}  // namespace

bool saveBook(const BookDocument& document, const char* original, const platform::BookWriter& write) {
    if (!document || !write) return false;
    // DOMDocument's own save to a path does not report every failed write (Wine's
    // ignores a full disk), so the book is serialised into memory and handed to
    // `write`, whose every write is checked. Before they are handed over, the bytes
    // are loaded again and must give the document back: a serialiser fault (Wine's
    // writes a namespace name holding "<" unescaped) must not replace a book by one
    // that does not load, nor by one whose text differs. And they must write the
    // names the book's own file writes: Wine's MSXML loads a prefix the book does not
    // declare and then drops it, so `<image l:href="#a.png"/>` would lose its link.
    IXMLDOMDocument* book = dom(document.get());
    std::optional<TextForm> form;
    std::optional<MarkupNames> names;
    if (std::optional<BookMarkup> markup = original != nullptr ? markupOfFile(original) : std::nullopt) {
        form = markup->form;
        names = std::move(markup->names);
    }
    const bool utf16 = form && (form->units == TextForm::Units::utf16le || form->units == TextForm::Units::utf16be);
    ComPtr<IStream> stream;
    auto saved = [&](bool inUtf16) {
        ComPtr<IXMLDOMDocument> copy;
        return serialise(book, stream) && (!inUtf16 || toUtf16(stream, *form)) && readBack(stream.Get(), copy) &&
               sameDocument(book, copy.Get()) && (!names || sameNames(*names, stream.Get()));
    };
    // Wine's MSXML writes UTF-8 under the book's own declaration: "windows-1251" text
    // comes back garbled. Written as UTF-8, saying so, the book keeps its text.
    if (!saved(utf16) && (!declareUtf8(book) || !saved(false))) return false;
    return writeStream(stream.Get(), write);
}

}  // namespace vellum
