// Reading a book from its bytes: where the document tree reads a book, the bytes show
// exactly what it shows, and where they cannot be sure of that, the tree serves the
// book; where the tree refuses a book whose first element is FictionBook, the book is
// damaged and shows the binary elements its bytes hold whole.
#include "support/book_fixture.h"

#include <gtest/gtest.h>

using namespace vellum;
using namespace vellum::test;

namespace {

enum class Read { fromBytes, throughTree, damaged };

struct ReadingCase {
    const char* label;
    std::string bytes;
    Read read;
    std::vector<std::string> ids;  // the entries shown, in order
};

class ReadingCases : public testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingCases, ShowWhatTheTreeShowsOrTheWholePictures) {
    const ReadingCase& c = GetParam();
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, c.bytes);
    std::unique_ptr<BookArchive> opened, tree;
    ASSERT_EQ(openBookArchive(path, opened), Status::ok);
    EXPECT_EQ(CanYouHandleThisFile(path.data()), 1);
    const bool treeReads = openBookThroughTree(path, tree) == Status::ok;
    std::vector<Shown> shown = showAll(*opened);
    if (treeReads) {
        EXPECT_TRUE(shown == showAll(*tree));
        EXPECT_EQ(opened->fromBytes, c.read == Read::fromBytes);
    } else {
        EXPECT_TRUE(opened->fromBytes);
    }
    // A damaged book is damaged on every target; the others depend on the tree only
    // where it reads them.
    if (c.read == Read::damaged) { EXPECT_FALSE(treeReads); }
    std::vector<std::string> ids;
    for (const Shown& entry : shown) {
        ids.push_back(entry.id);
        EXPECT_EQ(static_cast<std::int64_t>(entry.bytes.size()), entry.size) << entry.id;
    }
    if (treeReads || c.read == Read::damaged) { EXPECT_EQ(ids, c.ids); }
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

std::string inRoot(const std::string& body) { return kHead + "<FictionBook>" + body + "</FictionBook>\n"; }

std::string utf16(const std::string& ascii, bool little) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) bytes += little ? std::string{c, '\0'} : std::string{'\0', c};
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Books, ReadingCases,
    testing::Values(
        // Read from the bytes: what the tree would show.
        ReadingCase{"LineEnds", inRoot("<binary id=\"a\">QU\r\nJD\rRE\n\rVG\r</binary>"), Read::fromBytes, {"a"}},
        ReadingCase{"NonAsciiInContent", inRoot("<binary id=\"a\">QU\xC3\xA9JD\xF0\x9F\x98\x80x</binary>"),
                    Read::fromBytes, {"a"}},
        ReadingCase{"Windows1251",
                    "<?xml version=\"1.0\" encoding=\"windows-1251\"?><FictionBook><binary id=\"\xF4\xEE\xF2\xEE\" "
                    "content-type=\"\xF2\xE8\xEF\">QU\xC6JD</binary></FictionBook>",
                    Read::fromBytes, {"\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE"}},
        ReadingCase{"Utf16LittleEndian",
                    utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><FictionBook><binary id=\"u\">QU\r\nJD=x"
                          "</binary></FictionBook>",
                          true),
                    Read::fromBytes, {"u"}},
        ReadingCase{"Utf16BigEndian",
                    utf16("<FictionBook><binary id=\"u\" content-type=\"t\">QUJDRA</binary></FictionBook>", false),
                    Read::fromBytes, {"u"}},
        ReadingCase{"ReferencesAndWhiteSpaceInAttributes",
                    inRoot("<binary id=\"a&#x20;b&#9;c\td\r\ne&lt;\" content-type=\"x&amp;y\">QUJD</binary>"),
                    Read::fromBytes, {"a b\tc d e<"}},
        ReadingCase{"OnlyChildrenOfFictionBookWithAnIdAndNoChild",
                    inRoot("<FictionBook><binary id=\"x\">QUJD</binary></FictionBook><p><binary id=\"y\">QUJD</binary>"
                           "</p><fb:binary xmlns:fb=\"u\" id=\"p\">QUJD</fb:binary><binary>QUJD</binary>"
                           "<binary id=\"c\">QU<b/>JD</binary><binary id=\"e\"/><binary id=\"f\"></binary>"),
                    Read::fromBytes, {"x", "e", "f"}},
        ReadingCase{"DoctypeWithoutEntitiesAndAByteOrderMark",
                    "\xEF\xBB\xBF<!DOCTYPE FictionBook [<!ELEMENT p ANY><!-- c -->]><FictionBook><binary id=\"d\">"
                    "QUJD</binary></FictionBook><!-- after -->\n",
                    Read::fromBytes, {"d"}},
        // What the bytes cannot be sure of: the tree serves the book.
        ReadingCase{"ReferenceInContent", inRoot("<binary id=\"r\">QU&#74;D</binary>"), Read::throughTree, {"r"}},
        ReadingCase{"CommentAndCdataInContent",
                    inRoot("<binary id=\"m\">QU<!-- c -->JD</binary><binary id=\"n\"><![CDATA[QUJD]]></binary>"),
                    Read::throughTree, {"m", "n"}},
        ReadingCase{"DeclaredEntity",
                    kHead + "<!DOCTYPE FictionBook [<!ENTITY e \"QUJD\">]><FictionBook><binary id=\"e\">&e;</binary>"
                            "</FictionBook>",
                    Read::throughTree, {"e"}},
        ReadingCase{"IdInAnEncodingWithoutATable",
                    "<?xml version=\"1.0\" encoding=\"koi8-r\"?><FictionBook><binary id=\"\xF6\">QUJD</binary>"
                    "</FictionBook>",
                    Read::throughTree, {"\xD0\x96"}},
        // Damaged: the whole pictures, before the damage those under FictionBook,
        // after it any element named binary with an id and content without markup.
        ReadingCase{"MismatchedTagBeforeThePictures",
                    inRoot("<body><p>a</b></body><binary id=\"a\">QUJD</binary><binary>QUJD</binary>"
                           "<binary id=\"b\">QU&amp;JD</binary><p><binary id=\"c\">QUJD</binary></p>"
                           "<binary id=\"d\">QU<b/>JD</binary>"),
                    Read::damaged, {"a", "c"}},
        ReadingCase{"CutShortInsideAPicture", inRoot("<binary id=\"a\">QUJD</binary><binary id=\"b\">QU").substr(0, 80),
                    Read::damaged, {"a"}},
        ReadingCase{"StrayAmpersand", inRoot("<body><p>A & B</p></body><binary id=\"a\">QUJD</binary>"),
                    Read::damaged, {"a"}},
        ReadingCase{"UndeclaredEntityInAnId", inRoot("<binary id=\"x&u;\">QUJD</binary>"), Read::damaged, {"x&u;"}},
        ReadingCase{"MarkupInAPictureOfADamagedBook",
                    inRoot("<p>&</p><binary id=\"a\">QU<!-- c -->JD</binary><binary id=\"b\">QUJD</binary>"),
                    Read::damaged, {"b"}},
        ReadingCase{"ASecondRoot",
                    kHead + "<FictionBook><binary id=\"a\">QUJD</binary></FictionBook><binary id=\"b\">QUJD</binary>",
                    Read::damaged, {"a", "b"}}),
    [](const testing::TestParamInfo<ReadingCase>& info) { return std::string(info.param.label); });

}  // namespace
