// Walking a book as the host does: the entries, their header fields, and the text
// of "files.bbs".
#include "core/entry_names.h"
#include "platform/platform.h"
#include "plugin/host_text.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vellum;
using namespace vellum::test;

namespace {

std::string extractIndex(HANDLE_WCX handle, const TempDir& dir) {
    std::string target = dir.file("files.bbs");
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, const_cast<char*>(target.c_str())), 0);
    return readFile(target);
}

TEST(ReadHeader, DeliversAcceptedElementsThenIndexThenEnd) {
    OpenedBook book(test::book(binary("first.png", "image/png", "QUJD") +
                               "<binary content-type=\"image/png\">QUJD</binary>" +  // no id: skipped
                               "<binary id=\"child\">QQ<b/></binary>" +              // child element: skipped
                               binary("third.jpg", "image/jpeg", "QUJDREVG")));
    ASSERT_NE(book.handle, nullptr);
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.FileName, "first.png");
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.FileName, "third.jpg");
    EXPECT_EQ(header.UnpSize, 6);
    EXPECT_EQ(header.PackSize, 8);
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.FileName, "files.bbs");
    EXPECT_EQ(header.PackSize, 0);
    std::string index = extractIndex(book.handle, book.dir);
    EXPECT_EQ(index, "first.png    3 image/png\r\nthird.jpg    6 image/jpeg\r\n");
    EXPECT_EQ(header.UnpSize, static_cast<int>(index.size()));
    EXPECT_EQ(ReadHeader(book.handle, &header), E_END_ARCHIVE);
    EXPECT_EQ(ReadHeader(book.handle, &header), E_END_ARCHIVE);
}

TEST(ReadHeader, BookWithoutBinariesListsEmptyIndexOnly) {
    OpenedBook book(test::book("<body><p>text</p></body>"));
    std::vector<ListedEntry> entries = listAll(book.handle);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "files.bbs");
    EXPECT_EQ(entries[0].unpSize, 0);
    EXPECT_EQ(entries[0].packSize, 0);
}

TEST(ReadHeader, OnlyBinariesDirectlyUnderFictionBookAreEntries) {
    OpenedBook book(test::book("<body><binary id=\"inner\">QUJD</binary></body>" + binary("outer", "x/y", "QUJD")));
    std::vector<ListedEntry> entries = listAll(book.handle);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "outer");
}

TEST(ReadHeader, WritesOnlyTheFieldsOfEachEntry) {
    OpenedBook book(test::book(binary("a", "image/png", "QUJD")));
    tHeaderData header;
    std::memset(&header, 0x5A, sizeof header);
    std::strcpy(header.ArcName, "kept");
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.ArcName, "kept");
    EXPECT_EQ(header.HostOS, 0x5A5A5A5A);
    EXPECT_EQ(header.UnpVer, 0x5A5A5A5A);
    EXPECT_EQ(header.Method, 0x5A5A5A5A);
    EXPECT_EQ(header.Flags, 0x5A5A5A5A) << "an element keeps the host's Flags";
    EXPECT_EQ(header.CmtBufSize, 0x5A5A5A5A);
    EXPECT_EQ(header.FileCRC, 0);
    EXPECT_EQ(header.FileAttr, platform::hostFileAttr(platform::EntryKind::binary, 0x5A5A5A5A));
    header.FileAttr = 0x5A5A5A5A;  // what the host holds there now is what the index file keeps
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.FileName, "files.bbs");
    EXPECT_EQ(header.Flags, 0);
    EXPECT_EQ(header.FileAttr, platform::hostFileAttr(platform::EntryKind::index, 0x5A5A5A5A));
}

TEST(ReadHeader, EveryEntryBearsTheOpenTime) {
    OpenedBook book(test::book(binary("a", "", "QUJD") + binary("b", "", "QUJD")));
    std::vector<ListedEntry> entries = listAll(book.handle);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_NE(entries[0].fileTime, 0);
    EXPECT_EQ(entries[1].fileTime, entries[0].fileTime);
    EXPECT_EQ(entries[2].fileTime, entries[0].fileTime);
}

TEST(HostFileTime, PacksTheOpenTimeAsTheHostExpects) {
    platform::UtcTime t{2025, 12, 7, 8, 42, 10};
    platform::UtcTime odd{2025, 12, 7, 8, 42, 11};
    std::uint32_t packed = platform::hostFileTime(t);
    if (platform::pathSeparator() == '\\') {
        // MS-DOS date and time: 45 (years since 1980), 12, 7, 8, 42, 5 (seconds halved).
        EXPECT_EQ(packed >> 25, 45u);
        EXPECT_EQ((packed >> 21) & 15, 12u);
        EXPECT_EQ((packed >> 16) & 31, 7u);
        EXPECT_EQ((packed >> 11) & 31, 8u);
        EXPECT_EQ((packed >> 5) & 63, 42u);
        EXPECT_EQ(packed & 31, 5u);
        EXPECT_EQ(platform::hostFileTime(odd), packed);
    } else {
        EXPECT_EQ(packed, 1765096930u);  // a Unix timestamp
        EXPECT_EQ(platform::hostFileTime(odd), packed + 1);
    }
}

struct PadCase {
    int nameLength;
    int spaces;
};

class IndexLinePadding : public testing::TestWithParam<PadCase> {};

TEST_P(IndexLinePadding, SizeStartsAtColumn13OrAfterOneSpace) {
    std::string name(static_cast<std::size_t>(GetParam().nameLength), 'n');
    EntryDescription entry{platform::EntryKind::binary, "shown", name, "image/jpeg", 0, 12345};
    std::string text = "previous\r\n";
    plugin::appendIndexLine(text, entry);
    EXPECT_EQ(text, "previous\r\n" + name + std::string(static_cast<std::size_t>(GetParam().spaces), ' ') +
                        "12345 image/jpeg\r\n");
}

INSTANTIATE_TEST_SUITE_P(Names, IndexLinePadding,
                         testing::Values(PadCase{0, 13}, PadCase{9, 4}, PadCase{12, 1}, PadCase{13, 1},
                                         PadCase{40, 1}));

TEST(IndexText, MissingContentTypeAndEmptyTextStillMakeALine) {
    OpenedBook book(test::book("<binary id=\"empty\"></binary>"));
    std::vector<ListedEntry> entries = listAll(book.handle);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].unpSize, 0);
    EXPECT_EQ(entries[0].packSize, 0);
    EXPECT_EQ(entries[1].unpSize, static_cast<int>(std::string("empty        0 \r\n").size()));
}

TEST(IndexText, ManyEntriesPastTheFirstKilobyteKeepEveryLine) {
    std::string body;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        std::string id = "picture-" + std::to_string(i) + ".png";
        body += binary(id, "image/png", "QUJD");
        std::string pad(id.size() < 13 ? 13 - id.size() : 1, ' ');
        expected += id + pad + "3 image/png\r\n";
    }
    OpenedBook book(test::book(body));
    tHeaderData header{};
    while (ReadHeader(book.handle, &header) == 0 && std::string(header.FileName) != "files.bbs") {
    }
    EXPECT_GT(expected.size(), 1024u);
    EXPECT_EQ(header.UnpSize, static_cast<int>(expected.size()));
    EXPECT_EQ(extractIndex(book.handle, book.dir), expected);
}

struct NameCase {
    const char* id;
    const char* shown;
};

class SafeEntryName : public testing::TestWithParam<NameCase> {};

TEST_P(SafeEntryName, NeverLeadsOutOfTheTargetFolder) {
    EXPECT_EQ(safeEntryName(GetParam().id), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, SafeEntryName,
    testing::Values(NameCase{"cover.jpg", "cover.jpg"}, NameCase{"_id-1.2_x", "_id-1.2_x"},
                    NameCase{"\xd0\xbe\xd0\xb1.png", "\xd0\xbe\xd0\xb1.png"}, NameCase{"../x", ".._x"},
                    NameCase{"a/b\\c", "a_b_c"}, NameCase{"C:evil", "C_evil"},
                    NameCase{"tab\there", "tab_here"}, NameCase{"", "_"}, NameCase{".", "_."},
                    NameCase{"..", "_.."}, NameCase{"...", "..."}));

TEST(ReadHeader, ShowsSafeNameButIndexKeepsTheId) {
    OpenedBook book(test::book(binary("../../evil.png", "image/png", "QUJD")));
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_STREQ(header.FileName, ".._.._evil.png");
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_EQ(extractIndex(book.handle, book.dir), "../../evil.png 3 image/png\r\n");
}

TEST(ReadHeader, CutsLongIdAndContentTypeTo258Characters) {
    std::string longId(300, 'i');
    std::string longType(300, 't');
    OpenedBook book(test::book(binary(longId, longType, "QUJD")));
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_EQ(std::string(header.FileName), longId.substr(0, 258));
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    EXPECT_EQ(extractIndex(book.handle, book.dir), longId.substr(0, 258) + " 3 " + longType.substr(0, 258) + "\r\n");
}

TEST(CloseArchive, ReleasesAListingStoppedHalfway) {
    OpenedBook book(test::book(binary("a", "", "QUJD") + binary("b", "", "QUJD")));
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(book.handle, &header), 0);
    // The fixture closes the handle with its node list still held; the sanitizer
    // build shows any leak.
}

}  // namespace
