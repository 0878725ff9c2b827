// The note a replacement run leaves in the book's history, for every shape of
// description a book can have.
#include "book/history_note.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace vellum;
using namespace vellum::test;

namespace {

// Saves the book and returns its text, to look at what the note run made.
std::string saved(const LoadedBook& book) {
    std::string out = book.dir.file("saved.fb2");
    EXPECT_TRUE(saveBookTo(book.document, out));
    return readFile(out);
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
    std::size_t a = text.find(from);
    std::size_t b = text.find(to, a == std::string::npos ? 0 : a);
    return a == std::string::npos || b == std::string::npos ? "" : text.substr(a, b + to.size() - a);
}

TEST(FormatHistoryNote, SingleDigitTimeTwoDigitDateAndTrailingSpace) {
    EXPECT_EQ(formatHistoryNote({2025, 3, 5, 7, 8, 9}, 2),
              "v++++1 2025.03.05 7:8:9 2 items replaced(vellum Oct 23 2025 02:22:04) ");
    EXPECT_EQ(formatHistoryNote({2026, 12, 31, 23, 59, 58}, 0),
              "v++++1 2026.12.31 23:59:58 0 items replaced(vellum Oct 23 2025 02:22:04) ");
}

struct ShapeCase {
    const char* label;
    std::string body;      // the root's content before the note
    std::string expected;  // the description after it, with NOTE for the note's paragraph
};

class HistoryShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(HistoryShapes, NoteGoesUnderTheFirstHistoryCreatingWhatIsMissing) {
    LoadedBook book(test::book(GetParam().body + "<body><p>x</p></body>"));
    ASSERT_TRUE(appendHistoryNote(book.document, 4).appended);
    std::string text = saved(book);
    std::string description = between(text, "<description", "</description>");
    if (isWine()) {
        // Wine's MSXML declares the parent's namespace again on every element it
        // creates; Windows' does not. The book means the same, so compare without it.
        std::cout << "[   WINE   ] ignoring redundant xmlns on created elements\n";
        const std::string redundant = " xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"";
        for (std::size_t at; (at = description.find(redundant)) != std::string::npos;)
            description.erase(at, redundant.size());
    }
    std::size_t note = description.find("<p>v++++1 ");
    ASSERT_NE(note, std::string::npos) << text;
    std::size_t end = description.find("</p>", note);
    EXPECT_NE(description.substr(note, end - note).find(" 4 items replaced(vellum "), std::string::npos);
    description.replace(note, end + 4 - note, "NOTE");
    EXPECT_EQ(description, GetParam().expected);
    EXPECT_EQ(text.find("xmlns=\"\""), std::string::npos) << "created elements take their parent's namespace";
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, HistoryShapes,
    testing::Values(
        ShapeCase{"Full",
                  "<description><title-info/><document-info><id>1</id><history><p>a</p></history></document-info>"
                  "<publish-info/></description>",
                  "<description><title-info/><document-info><id>1</id><history><p>a</p>NOTE</history>"
                  "</document-info><publish-info/></description>"},
        ShapeCase{"NoHistory", "<description><document-info><id>1</id></document-info></description>",
                  "<description><document-info><id>1</id><history>NOTE</history></document-info></description>"},
        ShapeCase{"NoDocumentInfo", "<description><title-info/></description>",
                  "<description><title-info/><document-info><history>NOTE</history></document-info>"
                  "</description>"},
        ShapeCase{"NoDescription", "",
                  "<description><document-info><history>NOTE</history></document-info></description>"},
        ShapeCase{"TwoHistoriesFirstTakesIt",
                  "<description><document-info><history><p>1</p></history><history><p>2</p></history>"
                  "</document-info></description>",
                  "<description><document-info><history><p>1</p>NOTE</history><history><p>2</p></history>"
                  "</document-info></description>"}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.label); });

TEST(AppendHistoryNote, OtherRootGetsNothing) {
    LoadedBook book("<?xml version=\"1.0\"?>\n<html><description/></html>\n");
    std::string before = saved(book);
    EXPECT_FALSE(appendHistoryNote(book.document, 1).appended);
    EXPECT_EQ(saved(book), before);
}

TEST(AppendHistoryNote, TwoRunsLeaveTwoNotesInOrder) {
    LoadedBook book(test::book(""));
    ASSERT_TRUE(appendHistoryNote(book.document, 1).appended);
    ASSERT_TRUE(appendHistoryNote(book.document, 2).appended);
    std::string text = saved(book);
    std::size_t first = text.find(" 1 items replaced");
    std::size_t second = text.find(" 2 items replaced");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_EQ(text.find("<history>"), text.rfind("<history>")) << "one history holds both";
}

TEST(AppendNewElement, NeedsParentAndName) {
    LoadedBook book(test::book(""));
    Node none;
    EXPECT_FALSE(appendNewElement(book.document, none, "x", "", nullptr));
    NodeList roots;
    ASSERT_TRUE(selectNodes(book.document, "FictionBook", roots));
    Node root;
    ASSERT_TRUE(nodeListItem(roots, 0, root));
    EXPECT_FALSE(appendNewElement(book.document, root, nullptr, "", nullptr));
    Node added;
    EXPECT_TRUE(appendNewElement(book.document, root, "section", "words", &added));
    ElementText text;
    ASSERT_TRUE(elementText(added, text));
    EXPECT_EQ(text.text, "words");
}

}  // namespace
