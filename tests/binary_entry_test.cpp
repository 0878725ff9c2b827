// Reading binary elements: which are accepted, and the sizes the host is shown.
#include "book/base64.h"
#include "book/binary_entry.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

using namespace vellum;
using namespace vellum::test;

namespace {

struct SizeCase {
    const char* label;
    std::string text;  // the element's content as written in the book
    int textLength;
    int decodedSize;
};

class ReadBinaryEntrySizes : public testing::TestWithParam<SizeCase> {};

TEST_P(ReadBinaryEntrySizes, CountsTextAndDecodedBytes) {
    const SizeCase& c = GetParam();
    LoadedBook book(test::book(binary("a", "image/png", c.text)));
    ASSERT_TRUE(book.document);
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::count);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->textLength, c.textLength);
    EXPECT_EQ(entry->decodedSize, c.decodedSize);
    EXPECT_EQ(entry->id, "a");
    EXPECT_EQ(entry->contentType, "image/png");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadBinaryEntrySizes,
    testing::Values(SizeCase{"FourChars", "QUJD", 4, 3}, SizeCase{"SixAndTwoPads", "QUJDRA==", 8, 4},
                    SizeCase{"SevenAndOnePad", "QUJDREU=", 8, 5}, SizeCase{"TwoChars", "QQ", 2, 1},
                    SizeCase{"OneChar", "Q", 1, 0}, SizeCase{"LineBreakCountsInTextOnly", "QUJD\nRA==", 9, 4},
                    SizeCase{"StopsAtFirstPad", "QQ==QUJD", 8, 1},
                    SizeCase{"OnlyWhiteSpace", " \n\t  ", 5, 0}, SizeCase{"Empty", "", 0, 0},
                    SizeCase{"CrLfAndSpaces", "QU JD\r\nRE VG", 11, 6},
                    SizeCase{"CharacterReferenceIsText", "QUJ&#68;", 4, 3},
                    SizeCase{"CdataIsText", "<![CDATA[QUJD]]>", 4, 3},
                    // A non-ASCII character counts once in the text, never in the data.
                    SizeCase{"NonAsciiSkipped", "QU\xc3\xa9JD", 5, 3},
                    SizeCase{"OutsideBmpCountsTwice", "QUJD\xf0\x9f\x98\x80", 6, 3}),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.label); });

TEST(ReadBinaryEntry, RejectsElementWithChildElement) {
    LoadedBook book(test::book("<binary id=\"a\" content-type=\"image/png\">QUJD<x/>QUJD</binary>"));
    EXPECT_FALSE(readBinaryEntry(book.binary(0), EntrySizes::count));
}

TEST(ReadBinaryEntry, RejectsElementWithoutId) {
    LoadedBook book(test::book("<binary content-type=\"image/png\">QUJD</binary>"));
    EXPECT_FALSE(readBinaryEntry(book.binary(0), EntrySizes::count));
}

TEST(ReadBinaryEntry, AcceptsMissingContentTypeAsEmpty) {
    LoadedBook book(test::book("<binary id=\"pic\">QUJD</binary>"));
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::count);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "pic");
    EXPECT_EQ(entry->contentType, "");
    EXPECT_EQ(entry->decodedSize, 3);
}

TEST(ReadBinaryEntry, KeepsLongIdAndContentTypeWhole) {
    // The host's records cut them; the book's own values stay whole.
    std::string longId(300, 'i');
    std::string longType(300, 't');
    LoadedBook book(test::book(binary(longId, longType, "QUJD")));
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::count);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, longId);
    EXPECT_EQ(entry->contentType, longType);
}

TEST(ReadBinaryEntry, SkipSizesLeavesBothSizesZero) {
    LoadedBook book(test::book(binary("a", "image/png", std::string(4000, 'A'))));
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::skip);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "a");
    EXPECT_EQ(entry->textLength, 0);
    EXPECT_EQ(entry->decodedSize, 0);
}

TEST(ReadBinaryEntry, ReadsNonAsciiIdAsUtf8) {
    LoadedBook book(test::book(binary("obl\xc3\xb3zhka.jpg", "image/jpeg", "QUJD")));
    std::optional<BinaryEntry> entry = readBinaryEntry(book.binary(0), EntrySizes::count);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "obl\xc3\xb3zhka.jpg");
}

TEST(Base64DecodedSize, AgreesWithReferenceDecoderOnEveryByte) {
    // Every byte value, in every position of a group, around real data.
    for (int b = 0; b < 256; ++b) {
        for (int at = 0; at < 5; ++at) {
            std::string text = "QUJDREVG";
            text.insert(static_cast<std::size_t>(at), 1, static_cast<char>(b));
            ASSERT_EQ(base64DecodedSize(text), static_cast<std::int64_t>(referenceDecode(text).size()))
                << "byte " << b << " at " << at;
        }
    }
}

}  // namespace
