// The scanner's text part: character data, and the comments, CDATA sections and
// processing instructions that stand in it. What follows a "<" is told apart here.
#include "book/book_scan_parts.h"

namespace vellum::scan {

TextStep readText(TextReader& text, std::uint32_t c) {
    using State = TextReader::State;
    switch (text.state) {
    case State::text:
        if (c != '<') return TextStep::reading;
        text.state = State::lessThan;
        return TextStep::markup;
    case State::lessThan:
        if (c == '/') {
            text.state = State::text;
            return TextStep::endTag;
        }
        if (c == '?') {
            text.state = State::aside;
            text.aside = kInstruction;
            return TextStep::aside;
        }
        if (c == '!') {
            text.state = State::bang;
            return TextStep::reading;
        }
        if (isSpace(c) || c == '>' || c == '<' || c == '=' || c == '"' || c == '\'' || c == '&')
            return TextStep::malformed;
        text.state = State::text;
        return TextStep::startTag;
    case State::bang:
        if (c == '-') {
            text.state = State::aside;
            text.aside = kComment;
            return TextStep::aside;
        } else if (c == '[') {
            text.state = State::cdataKeyword;
            text.keywordMatched = 0;
        } else if (c == 'D') {
            text.state = State::text;
            return TextStep::doctype;
        } else {
            return TextStep::malformed;
        }
        return TextStep::reading;
    case State::cdataKeyword:
        if (c != static_cast<unsigned char>("CDATA["[text.keywordMatched])) return TextStep::malformed;
        if (++text.keywordMatched == 6) {
            text.state = State::aside;
            text.aside = kCdata;
            return TextStep::aside;
        }
        return TextStep::reading;
    case State::aside: {
        AsideStep read = readAside(text.aside, c);
        if (read == AsideStep::ended) text.state = State::text;
        return read == AsideStep::malformed ? TextStep::malformed : TextStep::reading;
    }
    }
    return TextStep::malformed;
}

}  // namespace vellum::scan
