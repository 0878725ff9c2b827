// How a book is loaded and saved: white space kept through a save, nothing outside
// the book ever read while loading it, the load complete when it returns, and books
// in an 8-bit encoding read in the host's code page.
#include "book/document.h"
#include "platform/platform.h"
#include "text/unicode.h"
#include "support/book_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace vellum;
using namespace vellum::test;

namespace {

// The first element `pattern` selects; empty when there is none.
Node firstOf(const BookDocument& document, const char* pattern) {
    NodeList list;
    Node node;
    if (selectNodes(document, pattern, list)) nodeListItem(list, 0, node);
    return node;
}

std::string textOf(const Node& element) {
    ElementText text;
    EXPECT_TRUE(elementText(element, text));
    return std::string(text.text);
}

struct SpacingCase {
    const char* label;
    const char* paragraph;  // the content of one <p>
    const char* text;       // its text
};

class WhiteSpace : public testing::TestWithParam<SpacingCase> {};

TEST_P(WhiteSpace, SurvivesLoadAndSave) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, book("<body><p>" + std::string(GetParam().paragraph) + "</p></body>"));
    BookDocument loaded = loadBook(path.c_str());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(textOf(firstOf(loaded, "FictionBook/body/p")), GetParam().text) << "as loaded";

    std::string copy = dir.file("saved.fb2");
    ASSERT_TRUE(saveBookTo(loaded, copy));
    BookDocument reloaded = loadBook(copy.c_str());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(textOf(firstOf(reloaded, "FictionBook/body/p")), GetParam().text) << "after a save";
}

INSTANTIATE_TEST_SUITE_P(
    Paragraphs, WhiteSpace,
    testing::Values(SpacingCase{"BetweenInlineElements", "a <emphasis>b</emphasis> <strong>c</strong>", "a b c"},
                    SpacingCase{"OnlyBetweenElements", "<emphasis>b</emphasis> <strong>c</strong>", "b c"},
                    SpacingCase{"LeadingTrailingAndLineBreaks", "  x\n  y  <emphasis> z </emphasis>\n",
                                "  x\n  y   z \n"}),
    [](const testing::TestParamInfo<SpacingCase>& info) { return std::string(info.param.label); });

// A file URL for a local path, as a book would name it.
std::string fileUrl(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path.front() == '/' ? "file://" + path : "file:///" + path;
}

struct OutsideCase {
    const char* label;
    // The book's document type declaration; SECRET stands for the secret file's URL.
    std::string doctype;
    // The paragraph, which may refer to an entity.
    std::string paragraph;
    // False when the book may fail to load (an entity that only the unread outside
    // would declare); it must then fail cleanly.
    bool mustOpen;
};

class OutsideOfTheBook : public testing::TestWithParam<OutsideCase> {};

TEST_P(OutsideOfTheBook, IsNeverRead) {
    TempDir dir;
    const std::string marker = "SECRET-FROM-OUTSIDE";
    writeFile(dir.file("secret.txt"), marker);
    writeFile(dir.file("book.dtd"), "<!ENTITY z \"" + marker + "\">\n"
                                    "<!ATTLIST binary content-type CDATA \"from/dtd\">\n");
    std::string doctype = GetParam().doctype;
    if (std::size_t at = doctype.find("SECRET"); at != std::string::npos)
        doctype.replace(at, 6, fileUrl(dir.file("secret.txt")));
    std::string path = dir.file("book.fb2");
    writeFile(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + doctype +
                        "\n<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><body><p>before " +
                        GetParam().paragraph + " after</p></body><binary id=\"a\">QUJD</binary></FictionBook>\n");

    BookDocument document = loadBook(path.c_str());
    if (!document) {
        EXPECT_FALSE(GetParam().mustOpen) << "the book did not open";
        return;
    }
    std::string all = textOf(firstOf(document, "FictionBook"));
    EXPECT_EQ(all.find(marker), std::string::npos) << all;
    EXPECT_NE(all.find("before"), std::string::npos) << all;
    std::string contentType;
    attributeText(firstOf(document, "//FictionBook/binary"), "content-type", contentType);
    EXPECT_NE(contentType, "from/dtd") << "a default attribute came from the external DTD";
}

INSTANTIATE_TEST_SUITE_P(
    Books, OutsideOfTheBook,
    testing::Values(
        OutsideCase{"FileEntityByUrl", "<!DOCTYPE FictionBook [<!ENTITY x SYSTEM \"SECRET\">]>", "&x;", true},
        OutsideCase{"FileEntityBesideTheBook", "<!DOCTYPE FictionBook [<!ENTITY x SYSTEM \"secret.txt\">]>", "&x;",
                    true},
        OutsideCase{"NetworkEntity", "<!DOCTYPE FictionBook [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]>", "&x;",
                    true},
        OutsideCase{"ExternalDtd", "<!DOCTYPE FictionBook SYSTEM \"book.dtd\">", "", true},
        OutsideCase{"EntityOfTheExternalDtd", "<!DOCTYPE FictionBook SYSTEM \"book.dtd\">", "&z;", false}),
    [](const testing::TestParamInfo<OutsideCase>& info) { return std::string(info.param.label); });

TEST(LoadBook, IsCompleteWhenItReturns) {
    TempDir dir;
    std::string path = dir.file("large.fb2");
    // About 12 MB: 24 pictures of 512 KiB of text each, the last one different.
    const std::string picture(512 * 1024, 'A');
    const std::string last = std::string(512 * 1024 - 4, 'B') + "QUJD";
    std::string body;
    for (int i = 0; i < 23; ++i) body += binary("p" + std::to_string(i) + ".png", "image/png", picture);
    body += binary("last.png", "image/png", last);
    writeFile(path, book("<body><p>x</p></body>" + body));

    BookDocument document = loadBook(path.c_str());
    ASSERT_TRUE(document);
    NodeList binaries;
    std::int32_t count = 0;
    ASSERT_TRUE(selectNodes(document, "//FictionBook/binary", binaries));
    ASSERT_TRUE(nodeListLength(binaries, count));
    ASSERT_EQ(count, 24);
    Node node;
    ASSERT_TRUE(nodeListItem(binaries, 23, node));
    std::string id;
    EXPECT_TRUE(attributeText(node, "id", id));
    EXPECT_EQ(id, "last.png");
    ElementText text;
    ASSERT_TRUE(elementText(node, text));
    EXPECT_EQ(text.utf16Length, static_cast<std::int64_t>(last.size()));
    EXPECT_TRUE(text.text == last) << "the last picture's text is whole";
}

TEST(LoadBook, ReadsAWindows1251BookAsUnicode) {
    TempDir dir;
    std::string path = dir.file("cp1251.fb2");
    // "Привет, мир" and the id "обложка.jpg", in windows-1251.
    writeFile(path, "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
                    "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><body><p>"
                    "\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0</p></body>"
                    "<binary id=\"\xee\xe1\xeb\xee\xe6\xea\xe0.jpg\" content-type=\"image/jpeg\">QUJD</binary>"
                    "</FictionBook>\n");
    const std::u16string words = u"Привет, мир";
    const std::u16string id = u"обложка.jpg";

    BookDocument document = loadBook(path.c_str());
    ASSERT_TRUE(document);
    ElementText text;
    ASSERT_TRUE(elementText(firstOf(document, "FictionBook/body/p"), text));
    EXPECT_EQ(text.utf16Length, static_cast<std::int64_t>(words.size()));
    EXPECT_EQ(text.text, text::utf8FromUtf16(words));
    std::string name;
    EXPECT_TRUE(attributeText(firstOf(document, "//FictionBook/binary"), "id", name));
    EXPECT_EQ(name, text::utf8FromUtf16(id));
}

}  // namespace
