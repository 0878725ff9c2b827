// A book the splice declines is written by the document's serialiser. That save
// keeps what the tree does not record: a UTF-16 book stays UTF-16 in its own byte
// order, and no element or attribute is renamed. Where the serialiser cannot keep
// the names (Wine's MSXML drops a prefix the book does not declare), the run fails
// and the book stays as it was; a document type declaration of any kind never stops
// the save, nor the host.
#include "book/markup_names.h"
#include "platform/platform.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

using namespace vellum;
using namespace vellum::test;

namespace {

const std::string kRoot = "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"";
// An entity that holds markup: a splice cannot vouch for such a book, so the
// serialiser saves it.
const std::string kMarkupEntity = "<!ENTITY e \"<emphasis>x</emphasis>\">";
const std::string kNew = "hello";  // the replacement; "aGVsbG8=" in the book

struct NamesCase {
    const char* label;
    std::string subset;        // the document type declaration's internal subset, or none
    std::string body;          // before the binary replaced
    std::vector<std::string> kept;  // as written in the book, and so after a save
};

class NamesAsWritten : public testing::TestWithParam<NamesCase> {};

TEST_P(NamesAsWritten, AreKeptOrTheRunFailsUntouched) {
    const NamesCase& c = GetParam();
    for (bool serialised : {false, true}) {
        SCOPED_TRACE(serialised ? "through the serialiser" : "as the plug-in saves it");
        const std::string subset = c.subset + (serialised ? kMarkupEntity : "");
        const std::string original = "<?xml version=\"1.0\"?>\n" +
                                     (subset.empty() ? "" : "<!DOCTYPE FictionBook [" + subset + "]>\n") + kRoot +
                                     "><body><p>&amp;" + (serialised ? "&e;" : "") + "</p>" + c.body + "</body>" +
                                     binary("a.png", "image/png", "QUJD") + "</FictionBook>\n";
        TempDir dir;
        const std::string path = dir.file("book.fb2");
        writeFile(path, original);
        writeFile(dir.file("a.png"), kNew);
        const std::vector<ListedEntry> before = listBook(path);

        const int result = pack(path, dir.path().string() + platform::pathSeparator(), {"a.png"});
        const std::string saved = readFile(path);
        if (result != 0) {
            // A document service that drops the names refuses the save; one that
            // refuses the book (MSXML itself, for an undeclared prefix) opens nothing.
            EXPECT_TRUE(result == E_EWRITE || result == E_EOPEN) << result;
            EXPECT_EQ(saved, original);
            continue;
        }
        for (const std::string& name : c.kept) EXPECT_NE(saved.find(name), std::string::npos) << name << "\n" << saved;
        EXPECT_NE(saved.find(referenceEncode(kNew)), std::string::npos) << saved;
        std::vector<ListedEntry> after = listBook(path);
        ASSERT_EQ(after.size(), before.size()) << saved;
        for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].name, before[i].name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Books, NamesAsWritten,
    testing::Values(
        // Wine's MSXML faulted reading the name of a document type declaration that
        // declares a notation, when the save compared the book with its read-back.
        NamesCase{"NotationAndUnparsedEntity",
                  "<!NOTATION png SYSTEM \"image/png\"><!ENTITY pic SYSTEM \"pic.png\" NDATA png>", "",
                  {"<!NOTATION png", "NDATA png"}},
        // Wine's MSXML loads a prefix the book does not declare and saves the name
        // without it: the cover's link, or an element that became a binary.
        NamesCase{"UndeclaredPrefixOnAnAttribute", "", "<image l:href=\"#a.png\"/>", {"l:href=\"#a.png\""}},
        NamesCase{"UndeclaredPrefixOnAnElement", "", "<u:binary id=\"u.png\">QUJD</u:binary>",
                  {"<u:binary id=\"u.png\">QUJD</u:binary>"}}),
    [](const testing::TestParamInfo<NamesCase>& info) { return std::string(info.param.label); });

// The NOTATION book is one no document service refuses: it is saved.
TEST(NamesAsWritten, NotationBookIsSavedThroughTheSerialiser) {
    TempDir dir;
    const std::string path = dir.file("book.fb2");
    writeFile(path, "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [<!NOTATION png SYSTEM \"image/png\">"
                    "<!ENTITY pic SYSTEM \"pic.png\" NDATA png>" + kMarkupEntity + "]>\n" + kRoot +
                    "><body><p>&e;</p></body>" + binary("a.png", "image/png", "QUJD") + "</FictionBook>\n");
    writeFile(dir.file("a.png"), kNew);
    EXPECT_EQ(pack(path, dir.path().string() + platform::pathSeparator(), {"a.png"}), 0);
}

struct Utf16Case {
    const char* label;
    bool bigEndian;
    bool mark;
    const char* declaration;  // the XML declaration, or empty
};

std::string inUtf16(const std::u16string& text, bool bigEndian, bool mark) {
    std::string bytes = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char16_t unit : text) {
        bytes += static_cast<char>(bigEndian ? unit >> 8 : unit & 0xFF);
        bytes += static_cast<char>(bigEndian ? unit & 0xFF : unit >> 8);
    }
    return bytes;
}

std::u16string ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class Utf16Books : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Books, StayUtf16InTheirByteOrder) {
    const Utf16Case& c = GetParam();
    const std::u16string declaration = ascii(c.declaration);
    const std::u16string text = declaration + ascii("<!DOCTYPE FictionBook [" + kMarkupEntity + "]>" + kRoot +
                                                    "><body><p>&e;") + u"Привет" + ascii("</p></body>" +
                                                    binary("a.png", "image/png", "QUJD") + "</FictionBook>");
    TempDir dir;
    const std::string path = dir.file("book.fb2");
    writeFile(path, inUtf16(text, c.bigEndian, c.mark));
    writeFile(dir.file("a.png"), kNew);
    ASSERT_EQ(pack(path, dir.path().string() + platform::pathSeparator(), {"a.png"}), 0);

    const std::string saved = readFile(path);
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(saved.substr(0, 2), inUtf16(c.mark ? u"" : u"<", c.bigEndian, c.mark)) << "the byte-order mark";
    for (const std::u16string& part : {declaration, std::u16string(u"Привет"), ascii(referenceEncode(kNew))})
        EXPECT_NE(saved.find(inUtf16(part, c.bigEndian, false)), std::string::npos) << "a part in UTF-16";
    std::vector<ListedEntry> entries = listBook(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].unpSize, static_cast<int>(kNew.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Books, Utf16Books,
    testing::Values(Utf16Case{"LittleEndianDeclaredUtf16", false, true, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"},
                    Utf16Case{"BigEndianDeclaredUtf16", true, true, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"},
                    Utf16Case{"LittleEndianDeclaredLE", false, true, "<?xml version=\"1.0\" encoding=\"UTF-16LE\"?>"},
                    Utf16Case{"BigEndianDeclaredBE", true, true, "<?xml version=\"1.0\" encoding=\"UTF-16BE\"?>"},
                    Utf16Case{"LittleEndianUndeclared", false, true, ""},
                    Utf16Case{"BigEndianUndeclared", true, true, ""},
                    Utf16Case{"LittleEndianWithoutMark", false, false, "<?xml version=\"1.0\" encoding=\"UTF-16LE\"?>"},
                    Utf16Case{"BigEndianWithoutMark", true, false, "<?xml version=\"1.0\" encoding=\"UTF-16BE\"?>"}),
    [](const testing::TestParamInfo<Utf16Case>& info) { return std::string(info.param.label); });

struct CountCase {
    const char* label;
    std::string bytes;
    std::optional<MarkupNames> names;
};

class MarkupNamesOf : public testing::TestWithParam<CountCase> {};

TEST_P(MarkupNamesOf, CountsNamesAsWrittenOutsideOtherMarkup) {
    const CountCase& c = GetParam();
    MarkupNameCounter counter;
    for (char byte : c.bytes) counter.feed(&byte, 1);  // pieces as small as they come
    EXPECT_EQ(counter.finish(), c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Books, MarkupNamesOf,
    testing::Values(
        CountCase{"TagsAndAttributes", "<?xml version='1.0'?><a:b x='1' l:href = \"#c\"><c/><c\n/></a:b>",
                  MarkupNames{{"<a:b", 1}, {"x=", 1}, {"l:href=", 1}, {"<c", 2}}},
        CountCase{"NoNamesInsideOtherMarkup",
                  "<!DOCTYPE b [<!ENTITY e \"<x y='1'>\"><!-- <z> ]> --><?p <q>?>]><b><!--<c>--><![CDATA[<d e='f'>]]>"
                  "<?g <h>?>&e;</b>",
                  MarkupNames{{"<b", 1}}},
        CountCase{"Utf16WithOtherCharacters", inUtf16(u"<ф:b фф='1'/>", true, true),
                  MarkupNames{{"<?:b", 1}, {"?=", 1}}},
        CountCase{"UnfinishedTag", "<a><b x='1", std::nullopt},
        CountCase{"Utf32", std::string("<\0\0\0a\0\0\0/\0\0\0>\0\0\0", 16), std::nullopt}),
    [](const testing::TestParamInfo<CountCase>& info) { return std::string(info.param.label); });

}  // namespace
