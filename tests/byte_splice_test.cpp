// Saving a replacement by splicing the book's own bytes: outside the replaced
// content and the new note the saved book is the original byte for byte, whatever
// its line ends, byte-order mark, encoding or markup; and a book the scan cannot
// vouch for is left to the serialiser.
#include "book/book_splice.h"
#include "book/history_note.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

using namespace vellum;
using namespace vellum::test;

namespace {

const std::string kRoot = "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\">";
const std::string kNew = "aGVsbG8=";  // "hello"

enum class Form { bytes, utf16le, utf16be };

// ASCII text in the form a case is stored in; UTF-16 gets its byte-order mark.
std::string stored(const std::string& text, Form form) {
    if (form == Form::bytes) return text;
    std::string out = form == Form::utf16le ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) out += form == Form::utf16le ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

// Back from the stored form to the text; "?" marks a unit that is not ASCII.
std::string unstored(const std::string& bytes, Form form) {
    if (form == Form::bytes) return bytes;
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        char low = bytes[i + (form == Form::utf16le ? 0 : 1)], high = bytes[i + (form == Form::utf16le ? 1 : 0)];
        text += high == '\0' ? low : '?';
    }
    return bytes.size() % 2 == 0 ? text : text + "?";
}

// The note's text becomes NOTE, once its form has been checked.
std::string withNoteAsNote(const std::string& text) {
    static const std::regex note(
        "v\\+\\+\\+\\+1 \\d{4}\\.\\d\\d\\.\\d\\d \\d+:\\d+:\\d+ 1 items replaced\\(vellum [^)]*\\) ");
    return std::regex_replace(text, note, "NOTE", std::regex_constants::format_first_only);
}

// A run as PackFiles makes it, on binary element `index`: its text replaced by
// kNew, the note appended, and the book spliced into `saved`.
SpliceResult spliceRun(const std::string& bytes, int index, std::string& saved,
                       const std::function<void(BookEdits&)>& alter = nullptr) {
    LoadedBook book(bytes);
    EXPECT_TRUE(book.document) << "the book does not load";
    if (!book.document) return SpliceResult::declined;
    std::int32_t count = 0;
    EXPECT_TRUE(nodeListLength(book.binaries, count));
    std::vector<bool> replaced(static_cast<std::size_t>(count));
    if (index >= 0) {
        EXPECT_TRUE(replaceElementText(book.binary(index), kNew));
        replaced.at(static_cast<std::size_t>(index)) = true;
    }
    BookEdits edits;
    EXPECT_TRUE(collectBinaryEdits(book.binaries, replaced, edits));
    edits.note = appendHistoryNote(book.document, 1);
    EXPECT_TRUE(edits.note.appended);
    if (alter) alter(edits);
    saved.clear();
    return spliceBook(book.path.c_str(), edits, [&](const void* data, std::size_t size) {
        saved.append(static_cast<const char*>(data), size);
        return true;
    });
}

struct SpliceCase {
    const char* label;
    Form form;
    int index;             // the binary element replaced
    std::string book;      // as text; stored in `form`
    std::string expected;  // the saved book, with NOTE for the note's text
};

class SplicedBooks : public testing::TestWithParam<SpliceCase> {};

TEST_P(SplicedBooks, AreTheOriginalOutsideTheEdits) {
    const SpliceCase& c = GetParam();
    std::string saved;
    ASSERT_EQ(spliceRun(stored(c.book, c.form), c.index, saved), SpliceResult::spliced);
    if (c.form != Form::bytes) {
        ASSERT_EQ(saved.substr(0, 2), stored("", c.form)) << "the byte-order mark";
    }
    EXPECT_EQ(withNoteAsNote(unstored(saved, c.form)), c.expected);
}

const std::string kHistoryBook = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + kRoot +
                                 "<description><document-info><history><p>old</p></history></document-info>"
                                 "</description><binary id=\"a.png\">QUJD</binary></FictionBook>\n";
const std::string kHistorySaved = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + kRoot +
                                  "<description><document-info><history><p>old</p><p>NOTE</p></history>"
                                  "</document-info></description><binary id=\"a.png\">aGVsbG8=</binary>"
                                  "</FictionBook>\n";

const std::string kCrLfBook = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + kRoot +
                              "\r\n <description>\r\n  <document-info><history>\r\n   <p>old</p>\r\n  </history>"
                              "</document-info>\r\n </description>\r\n <binary id=\"a.png\" content-type=\"image/png\">"
                              "QUJD\r\nREVG\r\n</binary>\r\n</FictionBook>\r\n";
const std::string kCrLfSaved = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + kRoot +
                               "\r\n <description>\r\n  <document-info><history>\r\n   <p>old</p>\r\n  <p>NOTE</p>"
                               "</history></document-info>\r\n </description>\r\n <binary id=\"a.png\" "
                               "content-type=\"image/png\">aGVsbG8=</binary>\r\n</FictionBook>\r\n";

INSTANTIATE_TEST_SUITE_P(
    Books, SplicedBooks,
    testing::Values(
        SpliceCase{"CrLfLineEnds", Form::bytes, 0, kCrLfBook, kCrLfSaved},
        SpliceCase{"Utf8ByteOrderMarkAndEmptyPairs", Form::bytes, 0,
                   "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n" + kRoot +
                       "<description><title-info><date></date></title-info><document-info><id>1</id>"
                       "</document-info></description><binary content-type='image/png' id='a.png'>QUJD</binary>"
                       "</FictionBook>",
                   "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>\n" + kRoot +
                       "<description><title-info><date></date></title-info><document-info><id>1</id><history>"
                       "<p>NOTE</p></history></document-info></description><binary content-type='image/png' "
                       "id='a.png'>aGVsbG8=</binary></FictionBook>"},
        SpliceCase{"Utf16LittleEndian", Form::utf16le, 0, kHistoryBook, kHistorySaved},
        SpliceCase{"Utf16BigEndian", Form::utf16be, 0, kHistoryBook, kHistorySaved},
        SpliceCase{"EmptyElementHistory", Form::bytes, 0,
                   "<?xml version=\"1.0\"?>\n" + kRoot +
                       "<description><document-info><history/></document-info></description>"
                       "<binary id=\"a.png\">QUJD</binary></FictionBook>\n",
                   "<?xml version=\"1.0\"?>\n" + kRoot +
                       "<description><document-info><history><p>NOTE</p></history></document-info></description>"
                       "<binary id=\"a.png\">aGVsbG8=</binary></FictionBook>\n"},
        SpliceCase{"NoDescription", Form::bytes, 0,
                   kRoot + "<body><p>x</p></body><binary id=\"a.png\">QUJD</binary>\n</FictionBook>",
                   kRoot + "<body><p>x</p></body><binary id=\"a.png\">aGVsbG8=</binary>\n<description>"
                           "<document-info><history><p>NOTE</p></history></document-info></description>"
                           "</FictionBook>"},
        // Names are matched as written: prefixed look-alikes are neither levels nor
        // selected binaries, and an empty-element parent is opened.
        SpliceCase{"PrefixedLookAlikes", Form::bytes, 0,
                   "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                   "xmlns:fb=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><fb:description><fb:document-info>"
                   "<fb:history/></fb:document-info></fb:description><description><document-info/></description>"
                   "<fb:binary id=\"a.png\">T0xE</fb:binary><binary id=\"a.png\">QUJD</binary></FictionBook>",
                   "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                   "xmlns:fb=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><fb:description><fb:document-info>"
                   "<fb:history/></fb:document-info></fb:description><description><document-info><history>"
                   "<p>NOTE</p></history></document-info></description><fb:binary id=\"a.png\">T0xE</fb:binary>"
                   "<binary id=\"a.png\">aGVsbG8=</binary></FictionBook>"},
        // Markup that could be mistaken for the spliced places, right beside them.
        SpliceCase{"CommentsReferencesAndQuotesNearby", Form::bytes, 1,
                   "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [\n <!ENTITY nbsp \"&#160;\">\n"
                   " <!-- ]> <binary> -->\n <!ATTLIST p title CDATA \"x>y\">\n]>\n" + kRoot +
                       "<description><document-info><history><p title='a>\"b'>1&nbsp;2</p><!-- </history> -->"
                       "<?pi </history>?></history></document-info></description><body><p><![CDATA[<binary "
                       "id=\"a.png\">]]>&amp;&lt;</p></body><binary id=\"b.png\">\n QU<!-- x -->JD&#65;\n"
                       "</binary><binary id='a.png'>\n  QUJD\n  <![CDATA[REVG]]>&#10;\n</binary><!-- </binary> -->"
                       "</FictionBook>",
                   "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [\n <!ENTITY nbsp \"&#160;\">\n"
                   " <!-- ]> <binary> -->\n <!ATTLIST p title CDATA \"x>y\">\n]>\n" + kRoot +
                       "<description><document-info><history><p title='a>\"b'>1&nbsp;2</p><!-- </history> -->"
                       "<?pi </history>?><p>NOTE</p></history></document-info></description><body><p><![CDATA["
                       "<binary id=\"a.png\">]]>&amp;&lt;</p></body><binary id=\"b.png\">\n QU<!-- x -->JD&#65;\n"
                       "</binary><binary id='a.png'>aGVsbG8=</binary><!-- </binary> --></FictionBook>"},
        SpliceCase{"EmptyElementBinaryAndReferencesInIds", Form::bytes, 1,
                   kRoot + "<description><document-info><history/></document-info></description>"
                           "<binary id=\"a&amp;b&#46;png\">QUJD\nREVG</binary><binary id=\"&#x61;.png\"/>"
                           "</FictionBook>",
                   kRoot + "<description><document-info><history><p>NOTE</p></history></document-info>"
                           "</description><binary id=\"a&amp;b&#46;png\">QUJD\nREVG</binary>"
                           "<binary id=\"&#x61;.png\">aGVsbG8=</binary></FictionBook>"},
        SpliceCase{"Windows1251", Form::bytes, 0,
                   "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" + kRoot +
                       "<description><document-info><history><p>\xcf\xf0\xe8\xe2\xe5\xf2</p></history>"
                       "</document-info></description><binary id=\"\xee\xe1\xeb\xee\xe6\xea\xe0.png\">QUJD</binary>"
                       "</FictionBook>\n",
                   "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n" + kRoot +
                       "<description><document-info><history><p>\xcf\xf0\xe8\xe2\xe5\xf2</p><p>NOTE</p></history>"
                       "</document-info></description><binary id=\"\xee\xe1\xeb\xee\xe6\xea\xe0.png\">aGVsbG8="
                       "</binary></FictionBook>\n"}),
    [](const testing::TestParamInfo<SpliceCase>& info) { return std::string(info.param.label); });

struct FallbackCase {
    const char* label;
    std::string book;
    std::function<void(BookEdits&)> alter;  // a document that tells another story
};

class DeclinedBooks : public testing::TestWithParam<FallbackCase> {};

TEST_P(DeclinedBooks, AreLeftToTheSerialiser) {
    const FallbackCase& c = GetParam();
    if (!LoadedBook(c.book).document)
        GTEST_SKIP() << "this target's XML library does not load the book";
    std::string saved;
    EXPECT_EQ(spliceRun(c.book, 0, saved, c.alter), SpliceResult::declined);
    if (c.alter) return;
    // The run still saves, through the serialiser.
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, c.book);
    writeFile(dir.file("a.png"), "hello");
    ASSERT_EQ(pack(path, dir.path().string() + platform::pathSeparator(), {"a.png"}), 0);
    std::vector<ListedEntry> entries = listBook(path);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].unpSize, 5);
}

const std::string kPlainBook = test::book("<description><document-info><history><p>old</p></history></document-info>"
                                          "</description><binary id=\"a.png\">QUJD</binary>");

std::string utf16WithoutMark() {
    std::string text = stored("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + kRoot +
                                  "<binary id=\"a.png\">QUJD</binary></FictionBook>",
                              Form::utf16le);
    return text.substr(2);
}

INSTANTIATE_TEST_SUITE_P(
    Books, DeclinedBooks,
    testing::Values(
        FallbackCase{"Utf16WithoutAByteOrderMark", utf16WithoutMark(), nullptr},
        FallbackCase{"EncodingNotSplicedAsBytes",
                     "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>" + kRoot + "<binary id=\"a.png\">QUJD</binary>"
                         "</FictionBook>",
                     nullptr},
        FallbackCase{"EntityHoldingMarkup",
                     "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [<!ENTITY e \"<emphasis>x</emphasis>\">]>\n" +
                         kRoot + "<body><p>&e;</p></body><binary id=\"a.png\">QUJD</binary></FictionBook>",
                     nullptr},
        FallbackCase{"EntityInAnId",
                     "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [<!ENTITY n \"a\">]>\n" + kRoot +
                         "<binary id=\"&n;.png\">QUJD</binary></FictionBook>",
                     nullptr},
        FallbackCase{"DocumentSeesOtherIds", kPlainBook, [](BookEdits& e) { e.binaries[0].id = "b.png"; }},
        FallbackCase{"DocumentSeesAnotherHistory", kPlainBook, [](BookEdits& e) { e.note.parentChildren = 2; }},
        FallbackCase{"DocumentCreatedALevelItFound", kPlainBook,
                     [](BookEdits& e) { e.note.levels[3] = NoteLevel::created; }},
        FallbackCase{"NoteHoldsMarkup", kPlainBook, [](BookEdits& e) { e.note.text = "a<b"; }},
        FallbackCase{"TextIsNotBase64", kPlainBook,
                     [](BookEdits& e) { e.binaries[0].text.text = "</binary>"; }}),
    [](const testing::TestParamInfo<FallbackCase>& info) { return std::string(info.param.label); });

TEST(SpliceBook, AWriterThatRefusesStopsTheSave) {
    LoadedBook book(kPlainBook);
    BookEdits edits;
    ASSERT_TRUE(collectBinaryEdits(book.binaries, {false}, edits));
    edits.note = appendHistoryNote(book.document, 0);
    ASSERT_TRUE(edits.note.appended);
    int calls = 0;
    EXPECT_EQ(spliceBook(book.path.c_str(), edits, [&](const void*, std::size_t) { return ++calls > 1; }),
              SpliceResult::writeFailed);
    EXPECT_EQ(calls, 1);
}

TEST(PackFilesSplice, SavesTheBooksOwnBytes) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, kCrLfBook);
    writeFile(dir.file("a.png"), "hello");
    ASSERT_EQ(pack(path, dir.path().string() + platform::pathSeparator(), {"a.png"}), 0);
    EXPECT_EQ(withNoteAsNote(readFile(path)), kCrLfSaved);
}

}  // namespace
