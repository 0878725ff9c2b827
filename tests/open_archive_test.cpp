// Opening, recognising and closing books through the exported functions.
#include "plugin/wcx.h"
#include "support/isolation.h"
#include "support/pack_helpers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace vellum::test;

namespace {

struct OpenCase {
    const char* label;
    std::string content;  // empty and missing are told apart by `create`
    bool create;
    int openResult;       // 0 when the book opens
};

class OpenArchiveCases : public testing::TestWithParam<OpenCase> {};

HANDLE_WCX open(const std::string& path, int& result) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    data.OpenMode = PK_OM_LIST;
    data.OpenResult = -77;
    HANDLE_WCX handle = OpenArchive(&data);
    result = handle != nullptr ? 0 : data.OpenResult;
    if (handle != nullptr) {
        EXPECT_EQ(data.OpenResult, -77) << "OpenResult is left alone on success";
    }
    return handle;
}

TEST_P(OpenArchiveCases, ResultAndDetectionAgree) {
    const OpenCase& c = GetParam();
    TempDir dir;
    std::string path = dir.file("book.fb2");
    if (c.create) writeFile(path, c.content);
    int result = -1;
    HANDLE_WCX handle = open(path, result);
    EXPECT_EQ(result, c.openResult);
    EXPECT_EQ(handle != nullptr, c.openResult == 0);
    EXPECT_EQ(CanYouHandleThisFile(const_cast<char*>(path.c_str())), c.openResult == 0 ? 1 : 0);
    EXPECT_EQ(CloseArchive(handle), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Books, OpenArchiveCases,
    testing::Values(
        OpenCase{"DefaultNamespace", book(binary("a.png", "image/png", "QUJD")), true, 0},
        OpenCase{"NoNamespace", book(binary("a.png", "image/png", "QUJD"), false), true, 0},
        OpenCase{"Missing", "", false, E_EOPEN},
        OpenCase{"Empty", "", true, E_EOPEN},
        OpenCase{"NotXml", "this is not a book\n", true, E_EOPEN},
        // A book cut short is damaged: it opens, showing the pictures it holds whole.
        OpenCase{"Truncated", "<?xml version=\"1.0\"?><FictionBook><binary id=\"a\">QU", true, 0},
        OpenCase{"TextBeforeTheRoot", "<?xml version=\"1.0\"?>text<FictionBook/>", true, E_EOPEN},
        OpenCase{"OtherRoot", "<?xml version=\"1.0\"?><html><body/></html>", true, E_BAD_ARCHIVE},
        OpenCase{"OtherRootNotWellFormed", "<?xml version=\"1.0\"?><html><body></html>", true, E_EOPEN},
        OpenCase{"PrefixedRoot",
                 "<?xml version=\"1.0\"?><fb:FictionBook xmlns:fb=\"http://www.gribuser.ru/xml/fictionbook/2.0\"/>",
                 true, E_BAD_ARCHIVE},
        // Detection reads at most 256 KiB to the first element; past that the tree
        // decides, for detection and opening alike.
        OpenCase{"LongPrologWellFormed", "<?xml version=\"1.0\"?><!--" + std::string(300000, 'x') + "--><FictionBook/>",
                 true, 0},
        OpenCase{"LongPrologCutShort",
                 "<?xml version=\"1.0\"?><!--" + std::string(300000, 'x') + "--><FictionBook><binary id=\"a\">QU", true,
                 E_EOPEN},
        OpenCase{"Windows1251",
                 std::string("<?xml version=\"1.0\" encoding=\"windows-1251\"?><FictionBook><body><p>"
                             "\xcf\xf0\xe8\xe2\xe5\xf2</p></body></FictionBook>"),
                 true, 0}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.label); });

TEST(GetPackerCaps, AnnouncesNewModifyMultipleByContentHide) { EXPECT_EQ(GetPackerCaps(), 327); }

TEST(CloseArchive, AcceptsNullHandle) { EXPECT_EQ(CloseArchive(nullptr), 0); }

TEST(OpenArchive, RefusesNullRecordAndPath) {
    EXPECT_EQ(OpenArchive(nullptr), nullptr);
    tOpenArchiveData data{};
    EXPECT_EQ(OpenArchive(&data), nullptr);
    EXPECT_EQ(data.OpenResult, E_EOPEN);
    EXPECT_EQ(CanYouHandleThisFile(nullptr), 0);
}

// The host asks about every file it shows: a FIFO, as a book or as the file put
// into one, is answered at once and never read.
TEST(NotARegularFile, FifoIsRefusedAtOnce) {
    TempDir dir;
    std::string fifo = dir.file("pipe.fb2");
    if (!makeFifo(fifo)) GTEST_SKIP() << "no FIFOs in this platform's file system";
    std::string path = dir.file("book.fb2");
    writeFile(path, book(binary("pipe.fb2", "image/png", "QUJD")));
    std::uint64_t before = fileHash(path);
    std::string srcPath = dir.path().string() + "/";
    IsolatedRun run = runIsolated(
        [&] {
            int result = 0;
            HANDLE_WCX handle = open(fifo, result);
            return std::to_string(CanYouHandleThisFile(const_cast<char*>(fifo.c_str()))) + " " +
                   std::to_string(handle == nullptr ? result : 0) + " " +
                   std::to_string(pack(fifo, srcPath, {"book.fb2"})) + " " +
                   std::to_string(pack(path, srcPath, {"pipe.fb2"}));
        },
        20);
    ASSERT_TRUE(run.finished) << (run.timedOut ? "a call waited on the FIFO" : run.report);
    EXPECT_EQ(run.report, "0 15 15 15") << "CanYouHandleThisFile, OpenArchive, PackFiles on it and from it";
    EXPECT_EQ(fileHash(path), before);
}

int countedCalls = 0;
int WCX_CALL countingProgress(char*, int) {
    ++countedCalls;
    return 1;
}

// The all-ones handle sets the packing callback and leaves open archives alone;
// an archive handle sets only that archive's callback.
TEST(SetProcessDataProc, AllOnesHandleIsForPackingOnly) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, book(binary("a.bin", "application/octet-stream", "QUJD")));
    int result = 0;
    HANDLE_WCX first = open(path, result);
    HANDLE_WCX second = open(path, result);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    countedCalls = 0;
    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<intptr_t>(-1)), countingProgress);
    SetProcessDataProc(second, countingProgress);
    SetProcessDataProc(nullptr, countingProgress);  // ignored
    SetChangeVolProc(nullptr, nullptr);             // ignored

    tHeaderData header{};
    ASSERT_EQ(ReadHeader(first, &header), 0);
    EXPECT_EQ(ProcessFile(first, PK_EXTRACT, nullptr, const_cast<char*>(dir.file("one").c_str())), 0);
    EXPECT_EQ(countedCalls, 0) << "the first archive has no callback of its own";
    ASSERT_EQ(ReadHeader(second, &header), 0);
    EXPECT_EQ(ProcessFile(second, PK_EXTRACT, nullptr, const_cast<char*>(dir.file("two").c_str())), 0);
    EXPECT_EQ(countedCalls, 1);

    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<intptr_t>(-1)), nullptr);
    CloseArchive(first);
    CloseArchive(second);
}

}  // namespace
