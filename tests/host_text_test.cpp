// The host's text: one rule for invalid input, the code page, names compared as the
// system compares them, and names cut between characters wherever the host's records
// and "files.bbs" hold them. Under Wine it runs with a Japanese code page (932),
// where a character takes one byte or two.
#include "plugin/wcx.h"
#include "support/book_fixture.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

using namespace vellum;
using namespace vellum::test;

namespace {

struct Utf8Case {
    const char* label;
    std::string utf8;
    std::u16string utf16;
};
void PrintTo(const Utf8Case& c, std::ostream* out) { *out << c.label; }

class Utf8ToUtf16 : public testing::TestWithParam<Utf8Case> {};

// Every byte that starts no valid sequence is one U+FFFD, and the walk goes on at
// the next byte.
TEST_P(Utf8ToUtf16, InvalidBytesAreEachOneReplacementCharacter) {
    EXPECT_EQ(text::utf16FromUtf8(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8ToUtf16,
    testing::Values(Utf8Case{"Valid", "a\xd0\xbe\xe8\xa1\xa8\xf0\x9f\x98\x80", u"a\u043e\u8868\U0001F600"},
                    Utf8Case{"StrayContinuation", "a\x80z", u"a\uFFFDz"},
                    Utf8Case{"LeadWithoutContinuation", "\xe8\xa1z", u"\uFFFD\uFFFDz"},
                    Utf8Case{"Overlong", "\xc0\xaf", u"\uFFFD\uFFFD"},
                    Utf8Case{"Surrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},
                    Utf8Case{"PastTheLastCodePoint", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.label); });

TEST(Utf16ToUtf8, LoneSurrogateIsOneReplacementCharacter) {
    std::u16string lone = std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC00);
    EXPECT_EQ(text::utf8FromUtf16(lone), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
    EXPECT_FALSE(text::isWellFormed(lone));
    EXPECT_TRUE(text::isWellFormed(u"a\U0001F600"));
}

TEST(Cut, NeverSplitsACharacter) {
    EXPECT_EQ(text::cutUtf8("a\xd0\xb1\xd0\xb2", 2), "a");
    EXPECT_EQ(text::cutUtf8("a\xd0\xb1\xd0\xb2", 3), "a\xd0\xb1");
    EXPECT_EQ(text::cutUtf8("\xf0\x9f\x98\x80x", 3), "");
    EXPECT_EQ(text::cutUtf8("a\x80\x80\x80", 2), "a\x80") << "each invalid byte is a character of its own";
    EXPECT_EQ(text::cutUtf16(u"ab\U0001F600", 3), u"ab");
    EXPECT_EQ(text::cutUtf16(u"ab\U0001F600", 4), u"ab\U0001F600");
}

TEST(CodePage, TellsWhenTextIsNotExact) {
    for (std::string name : {"cover.jpg", "caf\xc3\xa9", "\xd0\x96", "\xe8\xa1\xa8", "\xf0\x9f\x96\xbc"}) {
        SCOPED_TRACE(name);
        text::CodePageText strict = text::toCodePage(name, text::Unheld::question);
        EXPECT_EQ(strict.exact, text::fromCodePage(strict.text) == name);
        if (!strict.exact) {
            EXPECT_NE(strict.text.find('?'), std::string::npos);
        }
        EXPECT_EQ(text::toCodePage(name).exact, strict.exact);
    }
    EXPECT_EQ(text::toCodePage(std::string("a\0b", 3)).text, std::string("a\0b", 3)) << "converted whole";
}

TEST(SameName, IgnoresLetterCaseOnly) {
    EXPECT_TRUE(text::sameName("Cover.JPG", "cover.jpg"));
    EXPECT_TRUE(text::sameName("\xd0\x9e\xd0\x91\xd0\x9b.png", "\xd0\xbe\xd0\xb1\xd0\xbb.PNG"));
    EXPECT_TRUE(text::sameName("", ""));
    EXPECT_FALSE(text::sameName("cover.jpg", "cover.jpeg"));
    EXPECT_FALSE(text::sameName("cover", "cover "));
}

// The longest start of `utf8`, character by character, whose code-page text fits
// `limit` bytes.
std::string wholeCharacters(const std::string& utf8, std::size_t limit) {
    std::string kept, bytes;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t start = i;
        text::nextCodePoint(utf8, i);
        std::string next = bytes + text::toCodePage(utf8.substr(start, i - start)).text;
        if (next.size() > limit) break;
        bytes = next;
        kept.append(utf8, start, i - start);
    }
    return kept;
}

// A long id or content type is cut at the last whole character within 258 bytes of
// the 8-bit text, in the record and in "files.bbs" alike.
TEST(LongNames, AreCutBetweenCharacters) {
    if (text::toCodePage("\xe8\xa1\xa8").text.size() < 2)
        GTEST_SKIP() << "the code page holds no CJK character: Wine gave no double-byte code page for ja_JP.UTF-8";
    std::string id = "a", type = "x/y";
    for (int i = 0; i < 200; ++i) id += "\xe8\xa1\xa8", type += "\xd1\x8f";
    OpenedBook book(test::book(binary(id, type, "QUJD")));
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    std::string shownId = wholeCharacters(id, 258), shownType = wholeCharacters(type, 258);
    ASSERT_LT(text::toCodePage(shownId).text.size(), 258u) << "a cut inside a character is what is tested";
    EXPECT_EQ(text::fromCodePage(header.FileName), shownId);
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    std::string target = book.dir.file("files.bbs");
    ASSERT_EQ(ProcessFile(book.handle, PK_EXTRACT, nullptr, target.data()), 0);
    EXPECT_EQ(text::fromCodePage(readFile(target)), shownId + " 3 " + shownType + "\r\n");
}

}  // namespace
