// The scanner's tag part: start and end tags with their attributes. Only the id of a
// tag the scanner asks for is kept; every other value is skipped.
#include "book/book_scan_parts.h"

namespace vellum::scan {

void beginStartTag(TagReader& tag, std::uint32_t first) {
    tag.state = TagReader::State::startName;
    tag.name.clear();
    tag.name.add(first);
    tag.wantId = false;
    tag.wantType = false;
    tag.keeping = TagReader::Kept::none;
    tag.id.clear();
    tag.type.clear();
}

void beginEndTag(TagReader& tag) {
    tag.state = TagReader::State::endName;
    tag.name.clear();
}

TagStep readTag(TagReader& tag, std::uint32_t c, std::uint64_t at) {
    using State = TagReader::State;
    switch (tag.state) {
    case State::startName:
        if (isSpace(c) || c == '>' || c == '/') {
            tag.state = State::attributes;
            return TagStep::nameRead;
        }
        if (c == '<' || c == '=' || c == '"' || c == '\'') return TagStep::malformed;
        tag.name.add(c);
        return TagStep::reading;
    case State::attributes:
        if (isSpace(c)) return TagStep::reading;
        if (c == '>') return TagStep::startTag;
        if (c == '/') {
            tag.slashAt = at;
            tag.state = State::emptyEnd;
        } else if (c == '=' || c == '"' || c == '\'' || c == '<') {
            return TagStep::malformed;
        } else {
            tag.attributeName.assign(1, ascii(c));
            tag.state = State::attributeName;
        }
        return TagStep::reading;
    case State::attributeName:
        if (c == '=') {
            tag.state = State::beforeValue;
        } else if (isSpace(c)) {
            tag.state = State::beforeEquals;
        } else if (c == '>' || c == '/' || c == '<' || c == '"' || c == '\'') {
            return TagStep::malformed;
        } else if (tag.attributeName.size() < 13) {
            tag.attributeName += ascii(c);
        }
        return TagStep::reading;
    case State::beforeEquals:
        if (c == '=') {
            tag.state = State::beforeValue;
        } else if (!isSpace(c)) {
            return TagStep::malformed;
        }
        return TagStep::reading;
    case State::beforeValue:
        if (isSpace(c)) return TagStep::reading;
        if (c != '"' && c != '\'') return TagStep::malformed;
        tag.quote = c;
        tag.keeping = tag.wantId && tag.attributeName == "id"                 ? TagReader::Kept::id
                      : tag.wantType && tag.attributeName == "content-type" ? TagReader::Kept::type
                                                                            : TagReader::Kept::none;
        if (KeptValue* kept = tag.kept()) {
            if (kept->present) return TagStep::malformed;  // the attribute twice
            kept->present = true;
        }
        tag.state = State::value;
        return TagStep::reading;
    case State::value:
        if (c == tag.quote) {
            tag.state = State::attributes;
            tag.keeping = TagReader::Kept::none;
        } else if (c == '<') {
            return TagStep::malformed;
        } else if (KeptValue* kept = tag.kept()) {
            kept->add(c);
        }
        return TagStep::reading;
    case State::emptyEnd:
        return c == '>' ? TagStep::emptyTag : TagStep::malformed;
    case State::endName:
        if (c == '>') return TagStep::endTag;
        if (isSpace(c)) {
            tag.state = State::afterEndName;
        } else {
            tag.name.add(c);
        }
        return TagStep::reading;
    case State::afterEndName:
        if (c == '>') return TagStep::endTag;
        return isSpace(c) ? TagStep::reading : TagStep::malformed;
    }
    return TagStep::malformed;
}

}  // namespace vellum::scan
