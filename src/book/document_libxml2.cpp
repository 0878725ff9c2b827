// The document service over libxml2. Handles are libxml2's own pointers: a
// DocumentHandle is an xmlDoc, a NodeHandle an xmlNode owned by its document, and a
// NodeListHandle the vector of matches below.
#include "book/document.h"

#include "book/book_charset.h"
#include "book/libxml2_entities.h"
#include "book/libxml2_owners.h"
#include "book/libxml2_tree.h"
#include "book/markup_names.h"
#include "platform/platform.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

struct NodeListHandle {
    std::vector<xmlNodePtr> nodes;
};

static xmlDocPtr xml(const DocumentHandle* d) {
    return reinterpret_cast<xmlDocPtr>(const_cast<DocumentHandle*>(d));
}
static xmlNodePtr xml(const NodeHandle* n) {
    return reinterpret_cast<xmlNodePtr>(const_cast<NodeHandle*>(n));
}
static Node wrap(xmlNodePtr node) { return Node(reinterpret_cast<NodeHandle*>(node)); }

void DocumentRelease::operator()(DocumentHandle* document) const noexcept { xmlFreeDoc(xml(document)); }
void NodeRelease::operator()(NodeHandle*) const noexcept {}  // nodes belong to their document
void NodeListRelease::operator()(NodeListHandle* list) const noexcept { delete list; }

namespace {

// The library reports only through result codes, but libxml2 prints some errors
// (a broken encoding, a failed conversion) to stderr whatever the parser's options
// say. While one of these lives, such messages on this thread go nowhere; the
// host's own handlers come back afterwards.
void discardMessage(void*, const char*, ...) {}
class QuietErrors {
public:
    QuietErrors() : generic_(xmlGenericError), genericContext_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, discardMessage);
    }
    ~QuietErrors() { xmlSetGenericErrorFunc(genericContext_, generic_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

// A book with a fatal error is refused whatever follows it, so the parse stops at the
// first: libxml2 goes on after one and copies the text read so far into every error
// it raises, which a comment of many "--" (each an error) makes quadratic. Other
// errors (an unbound namespace prefix) leave the book readable. The error's type
// differs between libxml2 versions; the handler takes the one the parser names.
template <typename Handler>
struct StopAtFatalError;
template <typename Error>
struct StopAtFatalError<void (*)(void*, Error)> {
    static void handle(void* context, Error error) {
        if (error != nullptr && error->level == XML_ERR_FATAL) xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
    }
};

// The parser asks for 4000 bytes at a time; the book is read in larger blocks.
struct LoadSource {
    platform::File file;
    std::vector<char> block = std::vector<char>(1 << 18);
    std::size_t start = 0;
    std::size_t end = 0;
};

int readFromFile(void* context, char* buffer, int length) {
    auto* source = static_cast<LoadSource*>(context);
    if (length < 0) return -1;
    if (source->start == source->end) {
        std::uint32_t got = 0;
        if (!platform::readSome(source->file, source->block.data(), static_cast<std::uint32_t>(source->block.size()),
                                got))
            return -1;
        source->start = 0;
        source->end = got;
        if (got == 0) return 0;
    }
    std::size_t n = std::min(source->end - source->start, static_cast<std::size_t>(length));
    std::memcpy(buffer, source->block.data() + source->start, n);
    source->start += n;
    return static_cast<int>(n);
}

struct SaveTarget {
    const platform::BookWriter& write;
    bool failed = false;
};

int writeThrough(void* context, const char* buffer, int length) {
    auto* target = static_cast<SaveTarget*>(context);
    // No exception may cross libxml2's frames.
    try {
        if (!target->failed && length >= 0 && target->write(buffer, static_cast<std::size_t>(length))) return length;
    } catch (...) {
    }
    target->failed = true;
    return -1;
}

int keepOpen(void*) { return 0; }

bool nameIs(const xmlNode* node, std::string_view name) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return false;
    // Names as written: "prefix:local" when the element carries a prefix.
    std::string_view local(reinterpret_cast<const char*>(node->name));
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        std::string_view prefix(reinterpret_cast<const char*>(node->ns->prefix));
        return name.size() == prefix.size() + 1 + local.size() && name.substr(0, prefix.size()) == prefix &&
               name[prefix.size()] == ':' && name.substr(prefix.size() + 1) == local;
    }
    return local == name;
}

std::vector<std::string_view> splitSteps(std::string_view pattern) {
    std::vector<std::string_view> steps;
    while (!pattern.empty()) {
        std::size_t slash = pattern.find('/');
        steps.push_back(pattern.substr(0, slash));
        if (slash == std::string_view::npos) break;
        pattern.remove_prefix(slash + 1);
    }
    return steps;
}

// Does `node` end the step chain, with the first step either a child of the
// document (rooted) or anywhere (descendant)?
bool matchesUpwards(const xmlNode* node, const std::vector<std::string_view>& steps, bool rooted) {
    for (std::size_t k = steps.size(); k-- > 0;) {
        if (!nameIs(node, steps[k])) return false;
        node = node->parent;
    }
    return !rooted || (node != nullptr && node->type == XML_DOCUMENT_NODE);
}

// Counts the UTF-16 code units of UTF-8 text: one per sequence, two for a
// four-byte sequence.
std::int64_t utf16Units(std::string_view utf8) {
    // Blocks with a 32-bit count, so the loop vectorises: a picture's text is long.
    std::int64_t units = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t left = utf8.size(); left > 0;) {
        std::size_t block = std::min<std::size_t>(left, 1u << 20);
        std::uint32_t count = 0;
        for (std::size_t i = 0; i < block; ++i) count += ((p[i] & 0xC0) != 0x80) + (p[i] >= 0xF0);
        units += count;
        p += block;
        left -= block;
    }
    return units;
}

}  // namespace

BookDocument loadBook(const char* path) {
    if (path == nullptr) return nullptr;
    LoadSource source{platform::openForReading(path)};
    if (!source.file.isOpen()) return nullptr;
    xmlInitParser();
    QuietErrors quiet;
    libxml::ParserContext parser(xmlNewParserCtxt());
    if (!parser) return nullptr;
    // HUGE also switches off libxml2's own guard against entity expansion, so the
    // budget takes its place.
    libxml::EntityBudget budget;
    budget.attach(parser.get());
    parser->sax->serror = StopAtFatalError<decltype(parser->sax->serror)>::handle;
    // Complete when it returns; blanks kept; no network; no external entity or DTD
    // is ever loaded (neither XML_PARSE_NOENT nor XML_PARSE_DTDLOAD); HUGE lets a
    // picture's text node pass 10 MB. COMPACT keeps short texts inside their node,
    // which saves a tenth of the memory of a book made of many small elements.
    // Errors are the result code's business only.
    const int options =
        XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_COMPACT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    BookDocument document(reinterpret_cast<DocumentHandle*>(
        xmlCtxtReadIO(parser.get(), readFromFile, nullptr, &source, nullptr, nullptr, options)));
    if (budget.exceeded() || (document && !libxml::expansionWithinLimit(xml(document.get())))) return nullptr;
    return document;
}

bool selectNodes(const BookDocument& document, const char* pattern, NodeList& out) {
    out.reset();
    if (!document || pattern == nullptr) return false;
    std::string_view p(pattern);
    bool rooted = true;
    if (p.substr(0, 2) == "//") {
        rooted = false;
        p.remove_prefix(2);
    }
    std::vector<std::string_view> steps = splitSteps(p);
    auto list = std::make_unique<NodeListHandle>();
    libxml::walkElements(xml(document.get()), rooted ? steps.size() : SIZE_MAX, [&](xmlNodePtr node) {
        if (matchesUpwards(node, steps, rooted)) list->nodes.push_back(node);
    });
    out.reset(list.release());
    return true;
}

bool selectChildElements(const Node& element, NodeList& out) {
    out.reset();
    if (!element) return false;
    auto list = std::make_unique<NodeListHandle>();
    for (xmlNodePtr child = xml(element.get())->children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE) list->nodes.push_back(child);
    out.reset(list.release());
    return true;
}

bool nodeListLength(const NodeList& list, std::int32_t& length) {
    if (!list || list->nodes.size() > INT32_MAX) return false;
    length = static_cast<std::int32_t>(list->nodes.size());
    return true;
}

bool nodeListItem(const NodeList& list, std::int32_t index, Node& out) {
    out.reset();
    if (!list || index < 0 || static_cast<std::size_t>(index) >= list->nodes.size()) return false;
    out = wrap(list->nodes[static_cast<std::size_t>(index)]);
    return true;
}

bool attributeText(const Node& element, const char* name, std::string& value) {
    value.clear();
    if (!element || name == nullptr) return false;
    for (xmlAttrPtr attr = xml(element.get())->properties; attr != nullptr; attr = attr->next) {
        if (attr->ns != nullptr && attr->ns->prefix != nullptr) continue;
        if (std::strcmp(reinterpret_cast<const char*>(attr->name), name) != 0) continue;
        libxml::Chars text(xmlNodeListGetString(attr->doc, attr->children, 1));
        if (text) value = reinterpret_cast<const char*>(text.get());
        return true;
    }
    return false;
}

bool elementText(const Node& element, ElementText& out, Utf16Length length) {
    out = ElementText();
    if (!element) return false;
    xmlNodePtr node = xml(element.get());
    xmlNodePtr only = node->children;
    // A binary element normally holds one text node: read it in place, no copy.
    if (only != nullptr && only->next == nullptr &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
        if (only->content != nullptr) out.text = reinterpret_cast<const char*>(only->content);
    } else {
        if (!libxml::appendExpandedText(node->children, out.storage)) {
            out = ElementText();
            return false;
        }
        out.text = out.storage;
    }
    if (length == Utf16Length::count) out.utf16Length = utf16Units(out.text);
    return true;
}

bool replaceElementText(const Node& element, std::string_view text) {
    if (!element || text.size() > INT32_MAX) return false;
    xmlNodePtr node = xml(element.get());
    libxml::DetachedNode content(xmlNewDocTextLen(node->doc, reinterpret_cast<const xmlChar*>(text.data()),
                                               static_cast<int>(text.size())));
    if (!content) return false;
    xmlNodeSetContent(node, nullptr);
    if (xmlAddChild(node, content.get()) == nullptr) return false;
    content.release();  // the element holds it now
    return true;
}

bool appendNewElement(const BookDocument& document, const Node& parent, const char* name, std::string_view text,
                      Node* appended) {
    if (appended != nullptr) appended->reset();
    if (!document || !parent || name == nullptr || text.size() > INT32_MAX) return false;
    xmlNodePtr owner = xml(parent.get());
    // The new element shares its parent's namespace, so no xmlns="" appears on save.
    libxml::DetachedNode created(
        xmlNewDocNode(xml(document.get()), owner->ns, reinterpret_cast<const xmlChar*>(name), nullptr));
    if (!created) return false;
    if (!text.empty()) {
        libxml::DetachedNode content(xmlNewDocTextLen(created->doc, reinterpret_cast<const xmlChar*>(text.data()),
                                                   static_cast<int>(text.size())));
        if (!content || xmlAddChild(created.get(), content.get()) == nullptr) return false;
        content.release();
    }
    if (xmlAddChild(owner, created.get()) == nullptr) return false;
    xmlNodePtr added = created.release();
    if (appended != nullptr) *appended = wrap(added);
    return true;
}

// The encoding a save writes in: the one the book declares, unless a reader could
// not find the XML declaration written in it (UTF-7 writes "<" as "+ADw-", EBCDIC
// moves every letter), which would turn the saved book into something that does
// not load; such a book is saved in UTF-8, and its declaration says so.
static const char* saveEncoding(const xmlChar* declared) {
    if (declared == nullptr) return nullptr;
    const char* name = reinterpret_cast<const char*>(declared);
    switch (xmlParseCharEncoding(name)) {
    case XML_CHAR_ENCODING_UTF8:
    case XML_CHAR_ENCODING_UTF16LE:  // a reader recognises UTF-16 by its first bytes
    case XML_CHAR_ENCODING_UTF16BE:
        return name;
    default:
        break;
    }
    static const char kProbe[] =
        "<?xml version=\"1.0\" encoding=\"\"?>\n<!DOCTYPE [ ]><a:b c='d' e=\"f\">&#x;%-_.</a:b>\r\t "
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const int probeLength = static_cast<int>(sizeof kProbe - 1);
    libxml::EncodingHandler handler(xmlFindCharEncodingHandler(name));
    if (!handler) return "UTF-8";
    libxml::Buffer in(xmlBufferCreate());
    libxml::Buffer out(xmlBufferCreate());
    if (!in || !out || xmlBufferAdd(in.get(), reinterpret_cast<const xmlChar*>(kProbe), probeLength) != 0)
        return "UTF-8";
    xmlCharEncOutFunc(handler.get(), out.get(), nullptr);  // lets a stateful encoding write its start
    xmlBufferEmpty(out.get());
    bool asciiAsIs = xmlCharEncOutFunc(handler.get(), out.get(), in.get()) >= 0 &&
                     xmlBufferLength(out.get()) == probeLength &&
                     std::memcmp(xmlBufferContent(out.get()), kProbe, sizeof kProbe - 1) == 0;
    return asciiAsIs ? name : "UTF-8";
}

// libxml2 writes a namespace name between quotes as it is, without escaping: a name
// holding "<" (written in the book as "&lt;") would come out as a book that does not
// load, and one holding a tab or a line break (written "&#9;", "&#10;") would load
// under another name, each such character read as a space. (An "&" the parser keeps
// as "&#38;" already, so it comes back as it was.) While one of these lives, every
// such name is held in the document in its escaped form, which the serialiser then
// writes as it is; the names come back when it goes.
class EscapedNamespaces {
public:
    explicit EscapedNamespaces(xmlDocPtr doc) {
        libxml::walkElements(doc, SIZE_MAX, [&](xmlNodePtr element) {
            for (xmlNsPtr ns = element->nsDef; ns != nullptr && ok_; ns = ns->next) {
                const char* href = reinterpret_cast<const char*>(ns->href);
                if (href == nullptr || std::strpbrk(href, "<\"\t\n\r") == nullptr) continue;
                std::string text;
                for (const char* p = href; *p != '\0'; ++p) text += escaped(*p);
                xmlChar* copy = xmlStrdup(reinterpret_cast<const xmlChar*>(text.c_str()));
                if (copy == nullptr) {
                    ok_ = false;
                    break;
                }
                held_.push_back({ns, ns->href});
                ns->href = copy;
            }
        });
    }
    ~EscapedNamespaces() {
        for (const Held& h : held_) {
            xmlFree(const_cast<xmlChar*>(h.ns->href));
            h.ns->href = h.original;
        }
    }
    EscapedNamespaces(const EscapedNamespaces&) = delete;
    EscapedNamespaces& operator=(const EscapedNamespaces&) = delete;
    bool ok() const { return ok_; }

private:
    static std::string escaped(char c) {
        switch (c) {
        case '<': return "&lt;";
        case '"': return "&quot;";
        case '\t': return "&#9;";
        case '\n': return "&#10;";
        case '\r': return "&#13;";
        default: return std::string(1, c);
        }
    }
    struct Held {
        xmlNsPtr ns;
        const xmlChar* original;
    };
    std::vector<Held> held_;
    bool ok_ = true;
};

// libxml2 writes UTF-16 only little-endian with a byte-order mark, and only under the
// name "UTF-16": under "UTF-16LE" or "UTF-16BE" it leaves the mark out, and a book
// with no encoding in its declaration (UTF-16 by its mark alone) it writes in UTF-8.
// So a UTF-16 book's mark and declaration are written here, in the book's own byte
// order and as the document has them, and the rest by libxml2 in that byte order.
static bool saveUtf16(xmlDocPtr doc, const TextForm& form, SaveTarget& target) {
    const bool bigEndian = form.units == TextForm::Units::utf16be;
    std::string head;
    // libxml2 marks a document read without an XML declaration by standalone -1.
    if (doc->standalone != -1) {
        head = "<?xml version=\"";
        head += doc->version != nullptr ? reinterpret_cast<const char*>(doc->version) : "1.0";
        head += "\"";
        if (doc->encoding != nullptr) head += " encoding=\"" + std::string(reinterpret_cast<const char*>(doc->encoding)) + "\"";
        if (doc->standalone == 0 || doc->standalone == 1)
            head += doc->standalone == 1 ? " standalone=\"yes\"" : " standalone=\"no\"";
        head += "?>\n";
    }
    std::string bytes = form.byteOrderMark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : head) appendUtf16Unit(bytes, static_cast<char16_t>(c), bigEndian);  // the declaration is ASCII
    if (!bytes.empty() && writeThrough(&target, bytes.data(), static_cast<int>(bytes.size())) < 0) return false;
    libxml::SaveContext save(
        xmlSaveToIO(writeThrough, keepOpen, &target, bigEndian ? "UTF-16BE" : "UTF-16LE", XML_SAVE_NO_DECL));
    if (!save) return false;
    long written = xmlSaveDoc(save.get(), doc);
    bool closed = libxml::close(save);
    return written >= 0 && closed && !target.failed;
}

bool saveBook(const BookDocument& document, const char* original, const platform::BookWriter& write) {
    if (!document || !write) return false;
    xmlDocPtr doc = xml(document.get());
    EscapedNamespaces namespaces(doc);
    if (!namespaces.ok()) return false;
    QuietErrors quiet;
    SaveTarget target{write};
    std::optional<TextForm> form = original != nullptr ? textFormOfFile(original) : std::nullopt;
    if (form && (form->units == TextForm::Units::utf16le || form->units == TextForm::Units::utf16be))
        return saveUtf16(doc, *form, target);
    // The book keeps the encoding its declaration names; characters that encoding
    // cannot hold are written as character references.
    const char* encoding = saveEncoding(doc->encoding);
    libxml::SaveContext save(xmlSaveToIO(writeThrough, keepOpen, &target, encoding, 0));
    if (!save) return false;
    long written = xmlSaveDoc(save.get(), doc);
    bool closed = libxml::close(save);
    return written >= 0 && closed && !target.failed;
}

}  // namespace vellum
