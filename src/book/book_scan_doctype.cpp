// The scanner's DOCTYPE part: the declaration and its internal subset, read only far
// enough to tell whether an entity declared there could put markup into the book.
#include "book/book_charset.h"
#include "book/book_scan_parts.h"

#include <string_view>

namespace vellum::scan {

namespace {

// Whether an entity declaration from the internal subset ("ENTITY ..." up to its
// ">") may put markup into the document where the entity is referred to: an
// external entity, or a value holding "<", a character reference to "<" or "&", a
// reference to another entity, or a parameter entity.
bool entityMayHoldMarkup(std::string_view declaration) {
    if (declaration.substr(0, 6) != "ENTITY" || declaration.size() < 7 || !isSpace(declaration[6]))
        return false;  // ELEMENT, ATTLIST, NOTATION
    std::size_t at = declaration.find_first_not_of(" \t\r\n", 6);
    if (at == std::string_view::npos) return true;
    if (declaration[at] == '%') return false;  // a parameter entity; its references are what count
    at = declaration.find_first_of(" \t\r\n", at);
    at = at == std::string_view::npos ? at : declaration.find_first_not_of(" \t\r\n", at);
    if (at == std::string_view::npos || (declaration[at] != '"' && declaration[at] != '\'')) return true;  // external
    std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return true;
    std::string_view value = declaration.substr(at + 1, end - at - 1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '<' || value[i] == '%') return true;
        if (value[i] != '&') continue;
        std::size_t semi = value.find(';', i);
        if (semi == std::string_view::npos) return true;
        std::u16string name;
        for (char c : value.substr(i + 1, semi - i - 1)) name += static_cast<char16_t>(static_cast<unsigned char>(c));
        std::uint32_t resolved = 0;
        if (!resolveReference(name, resolved)) return true;
        if (name[0] == u'#' && (resolved == '<' || resolved == '&')) return true;
        i = semi;
    }
    return false;
}

// Whether a declaration ("ENTITY ...", "ATTLIST ...") gives a parser text or
// attribute values the bytes do not hold where they are used.
bool changesContent(std::string_view declaration) {
    return declaration.substr(0, 6) == "ENTITY" || declaration.substr(0, 7) == "ATTLIST";
}

// A quoted literal: true while `c` is inside one (its quotes included).
bool inLiteral(std::uint32_t& quote, std::uint32_t c) {
    if (quote != 0) {
        if (c == quote) quote = 0;
        return true;
    }
    if (c != '"' && c != '\'') return false;
    quote = c;
    return true;
}

}  // namespace

void beginDoctype(DoctypeReader& doctype) {
    doctype.state = DoctypeReader::State::keyword;
    doctype.keywordMatched = 0;
}

DoctypeStep readDoctype(DoctypeReader& doctype, std::uint32_t c) {
    using State = DoctypeReader::State;
    switch (doctype.state) {
    case State::keyword:
        if (c != static_cast<unsigned char>("OCTYPE"[doctype.keywordMatched])) return DoctypeStep::malformed;
        if (++doctype.keywordMatched == 6) {
            doctype.state = State::head;
            doctype.quote = 0;
        }
        return DoctypeStep::reading;
    case State::head:
        if (inLiteral(doctype.quote, c)) return DoctypeStep::reading;
        if (c == '>') return DoctypeStep::ended;
        if (c == '[') doctype.state = State::subset;
        return DoctypeStep::reading;
    case State::subset:
        if (isSpace(c)) return DoctypeStep::reading;
        if (c == ']') {
            doctype.state = State::afterSubset;
        } else if (c == '<') {
            doctype.state = State::subsetLessThan;
        } else if (c == '%') {
            // A parameter entity may declare entities the scanner never sees.
            doctype.entitiesMayHoldMarkup = true;
            doctype.changesContent = true;
            doctype.state = State::parameterReference;
        } else {
            return DoctypeStep::malformed;
        }
        return DoctypeStep::reading;
    case State::afterSubset:
        if (c == '>') return DoctypeStep::ended;
        return isSpace(c) ? DoctypeStep::reading : DoctypeStep::malformed;
    case State::parameterReference:
        if (c == ';') doctype.state = State::subset;
        return DoctypeStep::reading;
    case State::subsetLessThan:
        if (c == '!') {
            doctype.state = State::subsetBang;
            return DoctypeStep::reading;
        }
        if (c != '?') return DoctypeStep::malformed;
        doctype.state = State::aside;
        doctype.aside = kInstruction;
        return DoctypeStep::reading;
    case State::subsetBang:
        if (c == '-') {
            doctype.state = State::aside;
            doctype.aside = kComment;
        } else {
            doctype.declaration.assign(1, ascii(c));
            doctype.declarationTooLong = false;
            doctype.quote = 0;
            doctype.state = State::declaration;
        }
        return DoctypeStep::reading;
    case State::aside: {
        AsideStep read = readAside(doctype.aside, c);
        if (read == AsideStep::ended) doctype.state = State::subset;
        return read == AsideStep::malformed ? DoctypeStep::malformed : DoctypeStep::reading;
    }
    case State::declaration:
        if (!inLiteral(doctype.quote, c) && c == '>') {
            if (doctype.declarationTooLong || entityMayHoldMarkup(doctype.declaration))
                doctype.entitiesMayHoldMarkup = true;
            if (doctype.declarationTooLong || changesContent(doctype.declaration)) doctype.changesContent = true;
            doctype.state = State::subset;
            return DoctypeStep::reading;
        }
        if (doctype.declaration.size() < DoctypeReader::kDeclarationCap) {
            doctype.declaration += ascii(c);
        } else {
            doctype.declarationTooLong = true;
        }
        return DoctypeStep::reading;
    }
    return DoctypeStep::malformed;
}

}  // namespace vellum::scan
