#include "book/book_charset.h"

#include "text/unicode.h"

#include <string_view>

namespace vellum {

namespace {

// The XML declaration must end within this many bytes of the start.
constexpr std::size_t kHeadCap = 4096;

// "&", "#x", eight digits and ";": the longest reference resolveReference takes.
constexpr std::size_t kLongestReference = 12;

bool isSpace(std::uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
char ascii(std::uint32_t c) { return c < 0x80 ? static_cast<char>(c) : '\x80'; }

// The 8-bit encodings whose upper half the scanner can read, for comparing ids.
enum class ByteTable { none, latin1, windows1251, windows1252 };

constexpr char16_t kWindows1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0 to 0xFF: А to я in order
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436,
    0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443,
    0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// windows-1252 from 0x80 to 0x9F; above that it is ISO-8859-1.
constexpr char16_t kWindows1252Low[32] = {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
                                          0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178};

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// `name` is `prefix` followed by a decimal number from `low` to `high`.
bool numbered(const std::string& name, std::string_view prefix, int low, int high) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    int value = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        value = value * 10 + (name[i] - '0');
    }
    return value >= low && value <= high;
}

// The ASCII-compatible single-byte encodings a book may be spliced in.
bool singleByteEncoding(const std::string& name, ByteTable& table) {
    table = ByteTable::none;
    if (name == "us-ascii" || name == "ascii" || name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1") {
        table = ByteTable::latin1;
        return true;
    }
    if (name == "windows-1251" || name == "cp1251") {
        table = ByteTable::windows1251;
        return true;
    }
    if (name == "windows-1252" || name == "cp1252") {
        table = ByteTable::windows1252;
        return true;
    }
    return numbered(name, "iso-8859-", 2, 16) || numbered(name, "windows-", 1250, 1258) ||
           numbered(name, "cp", 1250, 1258) || name == "koi8-r" || name == "koi8-u" || name == "ibm866" ||
           name == "cp866";
}

// The encoding named in an XML declaration (lower case), or empty.
std::string declaredEncoding(std::string_view declaration) {
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return "";
    at += 8;
    while (at < declaration.size() && isSpace(static_cast<unsigned char>(declaration[at]))) ++at;
    if (at >= declaration.size() || declaration[at] != '=') return "";
    ++at;
    while (at < declaration.size() && isSpace(static_cast<unsigned char>(declaration[at]))) ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return "";
    std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return "";
    return lowered(declaration.substr(at + 1, end - at - 1));
}

}  // namespace

bool detectBookCharset(const std::string& head, bool atEnd, BookCharset& out) {
    // Only the first kHeadCap bytes count, so the answer never depends on how much
    // more was read.
    const std::string h = head.substr(0, kHeadCap);
    if (h.size() < 4 && !atEnd) return false;
    auto starts = [&](std::string_view bytes) { return h.compare(0, bytes.size(), bytes) == 0; };
    BookEncoding family = BookEncoding::utf8;
    std::size_t mark = 0;
    bool ok = true;
    if (starts("\xEF\xBB\xBF")) {
        mark = 3;
    } else if (starts(std::string_view("\xFF\xFE\0\0", 4))) {
        ok = false;  // UTF-32
    } else if (starts("\xFF\xFE")) {
        family = BookEncoding::utf16le;
        mark = 2;
    } else if (starts("\xFE\xFF")) {
        family = BookEncoding::utf16be;
        mark = 2;
    } else if (h.size() >= 2 && (h[0] == '\0' || h[1] == '\0')) {
        ok = false;  // UTF-16 or UTF-32 without a mark
    } else if (starts("\x4C\x6F\xA7\x94")) {
        ok = false;  // EBCDIC
    }
    bool wide = family == BookEncoding::utf16le || family == BookEncoding::utf16be;
    std::string text;  // the start of the book in ASCII
    if (wide) {
        for (std::size_t i = mark; i + 1 < h.size(); i += 2) {
            text += ascii(utf16Unit(static_cast<unsigned char>(h[i]), static_cast<unsigned char>(h[i + 1]),
                                    family == BookEncoding::utf16le));
        }
    } else {
        text = h.substr(mark);
    }
    std::string encoding;
    if (ok && text.compare(0, 5, "<?xml") == 0 && text.size() > 5 && isSpace(static_cast<unsigned char>(text[5]))) {
        std::size_t end = text.find("?>");
        if (end == std::string::npos) {
            if (!atEnd && h.size() < kHeadCap) return false;
            ok = false;
        }
        encoding = declaredEncoding(std::string_view(text).substr(0, end));
    } else if (ok && !atEnd && text.size() < 6 && std::string_view("<?xml ").substr(0, text.size()) == text) {
        return false;  // may still become a declaration
    }
    if (ok && family == BookEncoding::utf8 && mark == 3) {
        ok = encoding.empty() || encoding == "utf-8" || encoding == "utf8";
    } else if (ok && wide) {
        ok = encoding.empty() || encoding == "utf-16" ||
             encoding == (family == BookEncoding::utf16le ? "utf-16le" : "utf-16be");
    } else if (ok && !encoding.empty() && encoding != "utf-8" && encoding != "utf8") {
        ByteTable table = ByteTable::none;
        ok = singleByteEncoding(encoding, table);
        family = BookEncoding::singleByte;
        out.upperHalf = static_cast<int>(table);
    }
    out.encoding = ok ? family : BookEncoding::unsupported;
    out.unitSize = wide ? 2 : 1;
    out.markBytes = static_cast<unsigned>(mark);
    return true;
}

bool resolveReference(std::u16string_view name, std::uint32_t& value) {
    static const struct {
        std::u16string_view name;
        char value;
    } kPredefined[] = {{u"lt", '<'}, {u"gt", '>'}, {u"amp", '&'}, {u"quot", '"'}, {u"apos", '\''}};
    for (const auto& entity : kPredefined)
        if (name == entity.name) {
            value = static_cast<unsigned char>(entity.value);
            return true;
        }
    if (name.size() < 2 || name[0] != u'#') return false;
    bool hex = name[1] == u'x';
    std::size_t i = hex ? 2 : 1;
    if (i >= name.size() || name.size() > i + 8) return false;
    value = 0;
    for (; i < name.size(); ++i) {
        char16_t c = name[i];
        int digit = c >= u'0' && c <= u'9' ? c - u'0'
                    : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : hex && c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                    : -1;
        if (digit < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    return value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

bool decodeAttributeValue(std::u16string_view raw, const BookCharset& charset, std::u16string& out,
                          Unreadable unreadable) {
    const BookEncoding encoding = charset.encoding;
    const ByteTable table = static_cast<ByteTable>(charset.upperHalf);
    const bool keep = unreadable == Unreadable::keep;
    bool exact = true;
    out.clear();
    for (std::size_t i = 0; i < raw.size();) {
        std::uint32_t c = raw[i];
        if (c == u'&') {
            // No reference resolved here is longer than "&#x10FFFF;" with its zeros, so
            // the ";" is looked for only that far: a value of many "&" stays linear.
            std::size_t semi = raw.substr(0, i + kLongestReference).find(u';', i);
            std::uint32_t value = 0;
            if (semi != std::u16string_view::npos && resolveReference(raw.substr(i + 1, semi - i - 1), value)) {
                text::appendUtf16(out, value);
                i = semi + 1;
                continue;
            }
            if (!keep) return false;
            exact = false;
            out += u'&';  // the rest of the reference follows as written
            ++i;
        } else if (c == u'\r') {
            out += u' ';
            i += i + 1 < raw.size() && raw[i + 1] == u'\n' ? 2 : 1;
        } else if (isSpace(c)) {
            out += u' ';
            ++i;
        } else if (c < 0x80 || encoding == BookEncoding::utf16le || encoding == BookEncoding::utf16be) {
            out += static_cast<char16_t>(c);
            ++i;
        } else if (encoding == BookEncoding::singleByte) {
            char16_t decoded = table == ByteTable::latin1        ? static_cast<char16_t>(c)
                               : table == ByteTable::windows1251 ? kWindows1251[c - 0x80]
                               : table == ByteTable::windows1252 ? (c < 0xA0 ? kWindows1252Low[c - 0x80] : c)
                                                                 : 0;
            if (decoded == 0 && !keep) return false;
            exact = exact && decoded != 0;
            out += decoded != 0 ? decoded : static_cast<char16_t>(text::kReplacement);
            ++i;
        } else {  // UTF-8, one byte in each unit
            std::optional<char32_t> value = text::decodeUtf8(raw, i);
            if (!value && !keep) return false;
            exact = exact && value.has_value();
            text::appendUtf16(out, value.value_or(text::kReplacement));
        }
    }
    return exact;
}

}  // namespace vellum
