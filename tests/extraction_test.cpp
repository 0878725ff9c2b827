// Testing and extracting entries: decoding, progress and abort, the dispatch on the
// operation and the listing's phase, target paths, and failures that leave no file.
#include "core/progress.h"
#include "platform/fault_seam.h"
#include "platform/platform.h"
#include "support/book_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

using namespace vellum;
using namespace vellum::test;

namespace {

struct Report {
    std::string name;
    int size;
};
std::vector<Report> reports;
int abortAt = -1;  // the report (0-based) that answers "abort"

int WCX_CALL recordProgress(char* name, int size) {
    reports.push_back({name, size});
    return static_cast<int>(reports.size()) - 1 == abortAt ? 0 : 1;
}

class Extraction : public testing::Test {
protected:
    void SetUp() override {
        reports.clear();
        abortAt = -1;
    }
    void TearDown() override { platform::disarmFaults(); }

    // Opens `xml`, delivers the first entry and sets the progress callback.
    HANDLE_WCX openFirst(OpenedBook& book) {
        EXPECT_NE(book.handle, nullptr);
        SetProcessDataProc(book.handle, recordProgress);
        tHeaderData header{};
        EXPECT_EQ(ReadHeader(book.handle, &header), 0);
        return book.handle;
    }
    int extractTo(HANDLE_WCX handle, const std::string& target) {
        return ProcessFile(handle, PK_EXTRACT, nullptr, const_cast<char*>(target.c_str()));
    }
};

struct DecodeCase {
    const char* label;
    std::string text;
    std::string bytes;
    std::vector<int> reports;
};

class DecodeCases : public Extraction, public testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeCases, WritesDecodedBytesAndReportsThemAsOneBlock) {
    const DecodeCase& c = GetParam();
    OpenedBook book(test::book(binary("e", "x/y", c.text)));
    HANDLE_WCX handle = openFirst(book);
    std::string target = book.dir.file("out.bin");
    ASSERT_EQ(extractTo(handle, target), 0);
    EXPECT_EQ(readFile(target), c.bytes);
    std::vector<int> sizes;
    for (const Report& r : reports) {
        sizes.push_back(r.size);
        EXPECT_EQ(r.name, target);
    }
    EXPECT_EQ(sizes, c.reports);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeCases,
    testing::Values(DecodeCase{"ThreeBytes", "QUJD", "ABC", {3}}, DecodeCase{"OnePad", "QUI=", "AB", {2}},
                    DecodeCase{"TwoPads", "QQ==", "A", {1}}, DecodeCase{"NoPad", "QQ", "A", {1}},
                    DecodeCase{"SingleTrailingChar", "QUJDR", "ABC", {3}},
                    DecodeCase{"WhiteSpaceDropped", "QUJD\n RA==", "ABCD", {4}},
                    DecodeCase{"StopsAtFirstPad", "QQ==QUJD", "A", {1}},
                    DecodeCase{"EmptyText", "", "", {}}, DecodeCase{"OnlyWhiteSpace", " \r\n\t ", "", {}},
                    DecodeCase{"OnlyPads", "====", "", {}},
                    DecodeCase{"NonAsciiIgnored", "QU\xc3\xa9JD", "ABC", {3}},
                    DecodeCase{"AllSixtyFourValues",
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
                               referenceDecode("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
                               {48}}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

// A 1 MiB entry: whole blocks, then the rest, reported after each is written.
class LargeEntry : public Extraction {
protected:
    void SetUp() override {
        Extraction::SetUp();
        std::mt19937 random(7);
        bytes.assign(1 << 20, '\0');
        for (char& b : bytes) b = static_cast<char>(random());
        std::string text = referenceEncode(bytes);
        std::string wrapped;
        for (std::size_t i = 0; i < text.size(); i += 76) wrapped += text.substr(i, 76) + "\r\n";
        book = std::make_unique<OpenedBook>(test::book(binary("big.bin", "application/octet-stream", wrapped)));
        SetProcessDataProc(book->handle, recordProgress);
        ASSERT_EQ(ReadHeader(book->handle, &header), 0);
        target = book->dir.file("big.bin");
    }

    std::string bytes;
    std::unique_ptr<OpenedBook> book;
    tHeaderData header{};
    std::string target;
};

TEST_F(LargeEntry, MatchesReferenceInBlocksThatAddUpToTheSizeShown) {
    ASSERT_EQ(extractTo(book->handle, target), 0);
    EXPECT_EQ(readFile(target), bytes);
    EXPECT_EQ(header.UnpSize, static_cast<int>(bytes.size()));
    std::size_t whole = bytes.size() / kProgressBlock;
    ASSERT_EQ(reports.size(), whole + 1);
    for (std::size_t i = 0; i < whole; ++i) EXPECT_EQ(reports[i].size, static_cast<int>(kProgressBlock));
    EXPECT_EQ(reports.back().size, static_cast<int>(bytes.size() % kProgressBlock));
    for (const Report& r : reports) EXPECT_EQ(r.name, target);
}

TEST_F(LargeEntry, AbortAtABlockStopsThereAndDeletesTheFile) {
    abortAt = 1;
    EXPECT_EQ(extractTo(book->handle, target), E_EABORTED);
    EXPECT_EQ(reports.size(), 2u) << "nothing is decoded past the block that was refused";
    EXPECT_FALSE(exists(target));

    reports.clear();
    abortAt = 0;
    ASSERT_EQ(ReadHeader(book->handle, &header), 0);  // files.bbs
    EXPECT_EQ(extractTo(book->handle, target), E_EABORTED);
    EXPECT_FALSE(exists(target));
}

// A symbolic link at the target's name, to a file or to nothing yet, is replaced
// by the new file; what it points to is never written.
TEST_F(Extraction, LinkAtTheTargetIsReplacedNotWrittenThrough) {
    TempDir elsewhere;
    std::string kept = elsewhere.file("kept");
    writeFile(kept, "not to be written");
    for (const std::string& pointee : {kept, elsewhere.file("not-yet")}) {
        OpenedBook book(test::book(binary("a", "", "QUJD")));
        HANDLE_WCX handle = openFirst(book);
        std::string target = book.dir.file("a");
        std::error_code error;
        std::filesystem::create_symlink(pointee, target, error);
        if (error) GTEST_SKIP() << "symbolic links cannot be made here: " << error.message();
        ASSERT_EQ(extractTo(handle, target), 0) << pointee;
        EXPECT_FALSE(std::filesystem::is_symlink(target)) << pointee;
        EXPECT_EQ(readFile(target), "ABC");
    }
    EXPECT_EQ(readFile(kept), "not to be written");
    EXPECT_FALSE(exists(elsewhere.file("not-yet")));
}

TEST_F(Extraction, SameFileFromFolderAndNameOrFromWholePath) {
    OpenedBook book(test::book(binary("a.jpg", "image/jpeg", "QUJD")));
    HANDLE_WCX handle = openFirst(book);
    std::string folder = book.dir.path().string();
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, const_cast<char*>(folder.c_str()), const_cast<char*>("a.jpg")), 0);
    std::string joined = folder + platform::pathSeparator() + "a.jpg";
    EXPECT_EQ(readFile(joined), "ABC");
    writeFile(joined, "old content that is longer");
    EXPECT_EQ(extractTo(handle, joined), 0) << "a second extraction overwrites the first";
    EXPECT_EQ(readFile(joined), "ABC");
}

TEST_F(Extraction, MissingTargetFolderFailsWithoutFile) {
    OpenedBook book(test::book(binary("a", "", "QUJD")));
    HANDLE_WCX handle = openFirst(book);
    std::string target = book.dir.file("no-such-folder") + platform::pathSeparator() + "a";
    EXPECT_EQ(extractTo(handle, target), E_ECLOSE);
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_EQ(extractTo(handle, target), E_EOPEN);
}

TEST_F(Extraction, PathLongerThanTheHostBufferIsRefusedNotCut) {
    OpenedBook book(test::book(binary("a", "", "QUJD")));
    HANDLE_WCX handle = openFirst(book);
    std::string folder = book.dir.path().string();
    // Cut at 32999 characters this would name a file inside the folder.
    std::string name = "x" + std::string(33000 - folder.size(), 'y');
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, const_cast<char*>(folder.c_str()), const_cast<char*>(name.c_str())),
              E_ECLOSE);
    tHeaderData header{};
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, const_cast<char*>(folder.c_str()), const_cast<char*>(name.c_str())),
              E_EOPEN);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(book.dir.path()), {}), 1)
        << "only the book is in the folder";
}

TEST_F(Extraction, FailedWriteDeletesTheFileAndSaysSo) {
    OpenedBook book(test::book(binary("a", "", "QUJDREVG")));
    HANDLE_WCX handle = openFirst(book);
    std::string target = book.dir.file("a");
    platform::armFault(platform::Fault::write, 1);
    EXPECT_EQ(extractTo(handle, target), E_EWRITE);
    EXPECT_FALSE(exists(target));

    tHeaderData header{};
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    platform::armFault(platform::Fault::write, 1);
    EXPECT_EQ(extractTo(handle, target), E_EWRITE);
    EXPECT_FALSE(exists(target));
}

// A book changed after it was listed (another size, or a picture of the same
// length swapped in) is not decoded from places that no longer hold the picture.
TEST_F(Extraction, BookChangedSinceTheListingIsRefused) {
    for (bool sameSize : {false, true}) {
        SCOPED_TRACE(sameSize ? "the same size" : "another size");
        OpenedBook book(test::book(binary("a", "", "QUJDREVG")));
        HANDLE_WCX handle = openFirst(book);
        const auto listed = std::filesystem::last_write_time(book.path);
        writeFile(book.path, test::book(binary("a", "", sameSize ? "WFlaWFla" : "WFla")));
        std::filesystem::last_write_time(book.path, listed + std::chrono::seconds(2));
        std::string target = book.dir.file("a");
        EXPECT_EQ(extractTo(handle, target), E_BAD_DATA);
        EXPECT_FALSE(exists(target));
    }
}

TEST_F(Extraction, IndexIsWrittenInBlocksOf64KiB) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += binary("picture-number-" + std::to_string(i), "image/png", "QUJD");
    OpenedBook book(test::book(body));
    SetProcessDataProc(book.handle, recordProgress);
    tHeaderData header{};
    while (ReadHeader(book.handle, &header) == 0 && std::string(header.FileName) != "files.bbs") {
    }
    ASSERT_GT(header.UnpSize, 65536);
    reports.clear();
    std::string target = book.dir.file("files.bbs");
    ASSERT_EQ(extractTo(book.handle, target), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].size, 65536);
    EXPECT_EQ(reports[1].size, header.UnpSize - 65536);
    EXPECT_EQ(static_cast<int>(readFile(target).size()), header.UnpSize);
}

// What ProcessFile answers for each operation in each phase of the listing.
TEST_F(Extraction, DispatchOnOperationAndPhase) {
    OpenedBook book(test::book(binary("bad", "", "not base64 at all!")));
    HANDLE_WCX handle = book.handle;
    std::string target = book.dir.file("out");
    char* name = const_cast<char*>(target.c_str());
    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, name), E_BAD_DATA) << "nothing delivered yet";
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, name), E_BAD_DATA);
    EXPECT_EQ(ProcessFile(nullptr, PK_SKIP, nullptr, nullptr), 0);

    tHeaderData header{};
    ASSERT_EQ(ReadHeader(handle, &header), 0);  // the element
    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, name), 0);
    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, name), 0) << "the test does not check the Base64";
    EXPECT_EQ(ProcessFile(handle, 3, nullptr, name), E_BAD_DATA);
    EXPECT_EQ(ProcessFile(handle, -1, nullptr, name), E_BAD_DATA);

    ASSERT_EQ(ReadHeader(handle, &header), 0);  // files.bbs
    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, name), 0);
    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, name), 0);
    EXPECT_EQ(ProcessFile(handle, 3, nullptr, name), E_BAD_DATA);

    ASSERT_EQ(ReadHeader(handle, &header), E_END_ARCHIVE);
    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, name), 0);
    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, name), E_BAD_DATA);
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, name), E_BAD_DATA);
    EXPECT_FALSE(exists(target));
}

}  // namespace
