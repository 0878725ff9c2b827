#include "book/markup_names.h"

#include "book/book_charset.h"
#include "book/note_path.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vellum {

namespace {

// A character as the counter reads it: ASCII as it is, anything else as 0x80.
constexpr char kOther = '\x80';

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isNameChar(char c) {
    return c == kOther || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '.' || c == '-';
}

bool startsWith(std::string_view text, std::string_view bytes) { return text.substr(0, bytes.size()) == bytes; }

}  // namespace

TextForm textFormOf(std::string_view head) {
    using Units = TextForm::Units;
    using namespace std::string_view_literals;
    if (startsWith(head, "\xFF\xFE\0\0"sv) || startsWith(head, "\0\0\xFE\xFF"sv) || startsWith(head, "<\0\0\0"sv) ||
        startsWith(head, "\0\0\0<"sv) || startsWith(head, "\x4C\x6F\xA7\x94"sv))
        return {Units::other, false};
    if (startsWith(head, "\xFF\xFE"sv)) return {Units::utf16le, true};
    if (startsWith(head, "\xFE\xFF"sv)) return {Units::utf16be, true};
    if (startsWith(head, "<\0?\0"sv)) return {Units::utf16le, false};
    if (startsWith(head, "\0<\0?"sv)) return {Units::utf16be, false};
    return {Units::bytes, false};
}

std::optional<TextForm> textFormOfFile(const char* path) {
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return std::nullopt;
    char head[4];
    std::uint32_t have = 0;
    for (std::uint32_t got = 1; have < sizeof head && got > 0; have += got)
        if (!platform::readSome(file, head + have, sizeof head - have, got)) return std::nullopt;
    return textFormOf(std::string_view(head, have));
}

struct MarkupNameCounter::Machine {
    enum class State {
        text, open, elementName, inTag, attributeName, afterAttributeName, beforeValue, value,
        endTag, instruction, bang, comment, cdata, declaration
    };

    std::string head;  // the first bytes, until they tell the form
    bool formKnown = false;
    TextForm form;
    int pendingByte = -1;  // UTF-16: the first byte of a unit split between two pieces
    bool broken = false;
    State state = State::text;
    std::string name;
    char quote = 0;
    char last[3] = {0, 0, 0};  // the characters before this one, the latest first
    // In the document type declaration: its internal subset, and a comment or
    // processing instruction inside that subset.
    bool inSubset = false;
    bool subsetComment = false;
    bool subsetInstruction = false;
    MarkupNames names;

    void count(const std::string& key) { ++names[key]; }
    void append(char c) {
        if (c != kOther) {
            name += c;
        } else if (name.empty() || name.back() != '?') {
            name += '?';
        }
    }

    void beginName(State next, char c) {
        state = next;
        name.clear();
        append(c);
    }

    void step(char c) {
        switch (state) {
        case State::text:
            if (c == '<') state = State::open;
            break;
        case State::open:
            if (c == '!') {
                state = State::bang;
                name.clear();
            } else if (c == '?') {
                state = State::instruction;
            } else if (c == '/') {
                state = State::endTag;
            } else if (isNameChar(c)) {
                beginName(State::elementName, c);
            } else {
                broken = true;
            }
            break;
        case State::elementName:
            if (isNameChar(c)) {
                append(c);
                break;
            }
            count("<" + name);
            state = State::inTag;
            inTag(c);
            break;
        case State::inTag:
            inTag(c);
            break;
        case State::attributeName:
            if (isNameChar(c)) {
                append(c);
                break;
            }
            count(name + "=");
            state = c == '=' ? State::beforeValue : State::afterAttributeName;
            broken = broken || (c != '=' && !isSpace(c));
            break;
        case State::afterAttributeName:
            if (c == '=') state = State::beforeValue;
            broken = broken || (c != '=' && !isSpace(c));
            break;
        case State::beforeValue:
            if (c == '"' || c == '\'') {
                quote = c;
                state = State::value;
            } else {
                broken = broken || !isSpace(c);
            }
            break;
        case State::value:
            if (c == quote) state = State::inTag;
            break;
        case State::endTag:
            if (c == '>') state = State::text;
            break;
        case State::instruction:
            if (c == '>' && last[0] == '?') state = State::text;
            break;
        case State::bang:
            name += c;
            if (name == "--") {
                state = State::comment;
            } else if (name == "[CDATA[") {
                state = State::cdata;
            } else if (name == "DOCTYPE") {
                state = State::declaration;
                inSubset = subsetComment = subsetInstruction = false;
                quote = 0;
            } else if (!startsWith("--", name) && !startsWith("[CDATA[", name) && !startsWith("DOCTYPE", name)) {
                broken = true;
            }
            break;
        case State::comment:
            if (c == '>' && last[0] == '-' && last[1] == '-') state = State::text;
            break;
        case State::cdata:
            if (c == '>' && last[0] == ']' && last[1] == ']') state = State::text;
            break;
        case State::declaration:
            declaration(c);
            break;
        }
        last[2] = last[1];
        last[1] = last[0];
        last[0] = c;
    }

    void inTag(char c) {
        if (c == '>') {
            state = State::text;
        } else if (isNameChar(c)) {
            beginName(State::attributeName, c);
        } else {
            broken = broken || (c != '/' && !isSpace(c));
        }
    }

    void declaration(char c) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (subsetComment) {
            subsetComment = !(c == '>' && last[0] == '-' && last[1] == '-');
        } else if (subsetInstruction) {
            subsetInstruction = !(c == '>' && last[0] == '?');
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (inSubset) {
            if (c == ']') inSubset = false;
            subsetComment = c == '-' && last[0] == '-' && last[1] == '!' && last[2] == '<';
            subsetInstruction = c == '?' && last[0] == '<';
        } else if (c == '[') {
            inSubset = true;
        } else if (c == '>') {
            state = State::text;
        }
    }

    void bytes(const unsigned char* p, std::size_t size) {
        const unsigned char* end = p + size;
        if (form.units == TextForm::Units::bytes) {
            while (p < end) {
                if (state == State::text) {
                    const void* open = std::memchr(p, '<', static_cast<std::size_t>(end - p));
                    if (open == nullptr) return;
                    p = static_cast<const unsigned char*>(open);
                    last[0] = 0;
                }
                step(*p < 0x80 ? static_cast<char>(*p) : kOther);
                ++p;
            }
            return;
        }
        const bool little = form.units == TextForm::Units::utf16le;
        for (; p < end; ++p) {
            if (pendingByte < 0) {
                pendingByte = *p;
                continue;
            }
            const char16_t unit = utf16Unit(static_cast<unsigned>(pendingByte), *p, little);
            pendingByte = -1;
            step(unit < 0x80 ? static_cast<char>(unit) : kOther);
        }
    }

    void start() {
        formKnown = true;
        form = textFormOf(head);
        std::size_t mark = form.byteOrderMark ? 2 : 0;
        if (head.size() > mark)
            bytes(reinterpret_cast<const unsigned char*>(head.data()) + mark, head.size() - mark);
        head.clear();
    }
};

MarkupNameCounter::MarkupNameCounter() : machine_(std::make_unique<Machine>()) {}
MarkupNameCounter::~MarkupNameCounter() = default;

void MarkupNameCounter::feed(const void* data, std::size_t size) {
    Machine& m = *machine_;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!m.formKnown) {
        std::size_t take = std::min(size, 4 - m.head.size());
        m.head.append(reinterpret_cast<const char*>(p), take);
        p += take;
        size -= take;
        if (m.head.size() < 4) return;
        m.start();
    }
    if (m.form.units != TextForm::Units::other) m.bytes(p, size);
}

TextForm MarkupNameCounter::form() {
    Machine& m = *machine_;
    if (!m.formKnown) m.start();
    return m.form;
}

std::optional<MarkupNames> MarkupNameCounter::finish() {
    Machine& m = *machine_;
    if (!m.formKnown) m.start();
    if (m.broken || m.state != Machine::State::text || m.pendingByte >= 0 || m.form.units == TextForm::Units::other)
        return std::nullopt;
    return std::move(m.names);
}

std::optional<BookMarkup> markupOfFile(const char* path) {
    platform::File file = platform::openForReading(path);
    if (!file.isOpen()) return std::nullopt;
    MarkupNameCounter counter;
    std::vector<unsigned char> block(1 << 18);
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::readSome(file, block.data(), static_cast<std::uint32_t>(block.size()), got)) return std::nullopt;
        if (got == 0) break;
        counter.feed(block.data(), got);
    }
    TextForm form = counter.form();
    return BookMarkup{form, counter.finish()};
}

bool sameNamesBesideTheNote(const MarkupNames& book, const MarkupNames& saved) {
    // How many more of a name the note may bring.
    auto allowance = [](const std::string& key) -> std::int64_t {
        for (std::size_t k = 1; k <= kNoteDepth; ++k)
            if (!key.empty() && key[0] == '<' && std::string_view(key).substr(1) == noteStep(k)) return 1;
        return key == "xmlns=" ? static_cast<std::int64_t>(kNoteDepth) : 0;
    };
    for (const auto& [key, count] : saved) {
        auto found = book.find(key);
        const std::int64_t had = found == book.end() ? 0 : found->second;
        if (count < had || count > had + allowance(key)) return false;
    }
    for (const auto& [key, count] : book)
        if (saved.find(key) == saved.end()) return false;
    return true;
}

}  // namespace vellum
