// Packing files into a book: which names replace which elements, what the run
// answers, and that a book on disk changes only through a completed save.
#include "core/progress.h"
#include "platform/fault_seam.h"
#include "platform/platform.h"
#include "plugin/edge.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

using namespace vellum;
using namespace vellum::test;

namespace {

// A folder with a book of three binaries and a few source files.
class PackFilesRun : public testing::Test {
protected:
    void SetUp() override {
        bookPath = dir.file("book.fb2");
        writeFile(bookPath, test::book("<description><document-info><history><p>old</p></history></document-info>"
                                       "</description><body><p>text</p></body>" +
                                       binary("cover.jpg", "image/jpeg", "T0xE") +
                                       binary("pic.png", "image/png", "T0xE") +
                                       binary("cover.jpg", "image/jpeg", "U0VDT05E")));
        srcPath = dir.path().string() + platform::pathSeparator();
        writeFile(dir.file("cover.jpg"), "NEW");
        writeFile(dir.file("pic.png"), "PNG!");
        writeFile(dir.file("other.txt"), "unmatched");
    }
    void TearDown() override { platform::disarmFaults(); }

    // The decoded content of each entry of the book, in listing order.
    std::vector<std::string> contents() {
        TempDir out;
        std::vector<std::string> bytes;
        tOpenArchiveData data{};
        data.ArcName = const_cast<char*>(bookPath.c_str());
        HANDLE_WCX handle = OpenArchive(&data);
        tHeaderData header{};
        while (handle != nullptr && ReadHeader(handle, &header) == 0 && std::string(header.FileName) != "files.bbs") {
            std::string target = out.file("entry" + std::to_string(bytes.size()));  // ids may repeat
            EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, target.data()), 0);
            bytes.push_back(readFile(target));
        }
        CloseArchive(handle);
        return bytes;
    }
    std::string history() {
        LoadedBook book(readFile(bookPath));
        NodeList notes;
        std::int32_t count = 0;
        if (!selectNodes(book.document, "FictionBook/description/document-info/history/p", notes) ||
            !nodeListLength(notes, count))
            return "";
        std::string all;
        for (std::int32_t i = 0; i < count; ++i) {
            Node note;
            ElementText text;
            if (nodeListItem(notes, i, note) && elementText(note, text)) all += std::string(text.text) + "|";
        }
        return all;
    }

    TempDir dir;
    std::string bookPath;
    std::string srcPath;
};

TEST_F(PackFilesRun, ReplacesFirstMatchIgnoringCaseAndNotesTheRun) {
    writeFile(dir.file("COVER.JPG"), "NEW");
    EXPECT_EQ(pack(bookPath, srcPath, {"COVER.JPG", "other.txt"}), 0);
    EXPECT_EQ(contents(), (std::vector<std::string>{"NEW", "OLD", "SECOND"}));
    std::string notes = history();
    EXPECT_EQ(notes.rfind("old|v++++1 ", 0), 0u) << notes;
    EXPECT_NE(notes.find(" 1 items replaced(vellum Oct 23 2025 02:22:04) |"), std::string::npos) << notes;
    EXPECT_TRUE(exists(dir.file("COVER.JPG"))) << "without a move the sources stay";
    std::vector<ListedEntry> entries = listBook(bookPath);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "cover.jpg") << "the id is not changed";
    EXPECT_EQ(entries[0].unpSize, 3);
}

TEST_F(PackFilesRun, NoteCountsTheFilesPutInNotTheIndex) {
    EXPECT_EQ(pack(bookPath, srcPath, {"FILES.BBS", "pic.png", "pic.png", "nothing"}), 0);
    EXPECT_EQ(contents(), (std::vector<std::string>{"OLD", "PNG!", "SECOND"}));
    EXPECT_NE(history().find(" 2 items replaced"), std::string::npos) << history();
}

const std::string kFolder = std::string("new folder") + platform::pathSeparator();

// The host's list through each interface: the 8-bit export, and the Unicode edge that
// PackFilesW is one line over (built on every platform).
struct Interface {
    const char* label;
    int (*pack)(const std::string& book, const std::string& srcPath, const std::vector<std::string>& names);
};

int packNarrow(const std::string& book, const std::string& srcPath, const std::vector<std::string>& names) {
    return pack(book, srcPath, names, PK_PACK_MOVE_FILES);
}

int packWide(const std::string& book, const std::string& srcPath, const std::vector<std::string>& names) {
    std::u16string path = text::utf16FromUtf8(book), source = text::utf16FromUtf8(srcPath), list;
    for (const std::string& name : names) list += text::utf16FromUtf8(name) + u'\0';
    list += u'\0';
    return plugin::packFiles<plugin::WideText>(path.data(), nullptr, source.data(), list.data(), PK_PACK_MOVE_FILES);
}

struct ListCase {
    const char* label;
    std::vector<std::string> names;
    int result;
    // The entries after the run, with pic.png moved in; empty when the run must leave
    // the book byte for byte and every file where it was.
    std::vector<std::string> contents;
};

class PackLists : public PackFilesRun, public testing::WithParamInterface<std::tuple<ListCase, Interface>> {};

// Both interfaces split a list alike. A run that cannot do what the host asked (a
// folder, no file that is an entry) says so; nothing to put in is no failure.
TEST_P(PackLists, BothInterfacesAnswerAlike) {
    const auto& [c, via] = GetParam();
    std::uint64_t before = fileHash(bookPath);
    EXPECT_EQ(via.pack(bookPath, srcPath, c.names), c.result);
    if (c.contents.empty()) {
        EXPECT_EQ(fileHash(bookPath), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4) << "no file deleted or left";
    } else {
        EXPECT_EQ(contents(), c.contents);
        EXPECT_FALSE(exists(dir.file("pic.png")));
        EXPECT_TRUE(exists(dir.file("other.txt")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PackLists,
    testing::Combine(
        testing::Values(ListCase{"Empty", {}, 0, {}}, ListCase{"OnlyTheIndex", {"files.bbs", "FILES.BBS"}, 0, {}},
                        ListCase{"NoFileIsAnEntry", {"other.txt"}, E_NO_FILES, {}},
                        ListCase{"TheIndexAndNoEntry", {"files.bbs", "nothing.png"}, E_NO_FILES, {}},
                        ListCase{"NewFolder", {kFolder}, E_NOT_SUPPORTED, {}},
                        ListCase{"FolderWithABackslash", {"sub\\"}, E_NOT_SUPPORTED, {}},
                        ListCase{"FolderBesideAFile", {"pic.png", kFolder}, E_NOT_SUPPORTED, {}},
                        ListCase{"FileBelowAFolder", {"cover.jpg", kFolder + "pic.png"}, E_NOT_SUPPORTED, {}},
                        ListCase{"BackslashInThirdName", {"cover.jpg", "pic.png", "a\\b"}, E_NOT_SUPPORTED, {}},
                        ListCase{"OverlongName", {std::string(33000, 'n')}, E_NOT_SUPPORTED, {}},
                        ListCase{"OneFileIsAnEntry", {"nothing.png", "pic.png", "files.bbs"}, 0,
                                 {"OLD", "PNG!", "SECOND"}}),
        testing::Values(Interface{"Narrow", packNarrow}, Interface{"Wide", packWide})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).label) + std::get<1>(info.param).label;
    });

// Every entry the listing shows can be replaced under the name shown for it, as
// well as under its id.
TEST_F(PackFilesRun, EntryWithASafeNameIsReplacedUnderItsListedName) {
    writeFile(bookPath, test::book(binary("a:b.png", "image/png", "T0xE") + binary("c/d.png", "image/png", "T0xE") +
                                   binary("e\\f.png", "image/png", "T0xE")));
    std::vector<ListedEntry> listed = listBook(bookPath);
    ASSERT_EQ(listed.size(), 4u);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < 3; ++i) {
        names.push_back(listed[i].name);
        writeFile(dir.file(listed[i].name), "NEW" + std::to_string(i));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a_b.png", "c_d.png", "e_f.png"}));
    EXPECT_EQ(pack(bookPath, srcPath, names), 0);
    EXPECT_EQ(contents(), (std::vector<std::string>{"NEW0", "NEW1", "NEW2"}));
    EXPECT_NE(history().find(" 3 items replaced"), std::string::npos) << history();
}

TEST_F(PackFilesRun, MoveDeletesOnlyWhatTheBookNowHolds) {
    EXPECT_EQ(pack(bookPath, srcPath, {"cover.jpg", "other.txt", "files.bbs"}, PK_PACK_MOVE_FILES), 0);
    EXPECT_FALSE(exists(dir.file("cover.jpg")));
    EXPECT_TRUE(exists(dir.file("other.txt")));
    EXPECT_TRUE(exists(dir.file("pic.png")));
}

TEST_F(PackFilesRun, RejectedElementIsNeverMatched) {
    writeFile(bookPath, test::book("<binary id=\"pic.png\">T0xE<x/></binary>" + binary("pic.png", "", "T0xE")));
    EXPECT_EQ(pack(bookPath, srcPath, {"pic.png"}), 0);
    EXPECT_EQ(contents(), (std::vector<std::string>{"PNG!"}));
}

TEST_F(PackFilesRun, SourceFolderIsJoinedWithoutASeparator) {
    writeFile(dir.file("prefix-pic.png"), "JOINED");
    EXPECT_EQ(pack(bookPath, dir.file("prefix-"), {"pic.png"}), 0);
    EXPECT_EQ(contents()[1], "JOINED");
}

struct FailureCase {
    const char* label;
    std::vector<std::string> names;
    const char* subPath;
    int result;
};

class PackFilesFailures : public PackFilesRun, public testing::WithParamInterface<FailureCase> {};

TEST_P(PackFilesFailures, LeaveBookAndSourcesUntouched) {
    const FailureCase& c = GetParam();
    std::uint64_t before = fileHash(bookPath);
    EXPECT_EQ(pack(bookPath, srcPath, c.names, PK_PACK_MOVE_FILES, c.subPath), c.result);
    EXPECT_EQ(fileHash(bookPath), before);
    EXPECT_TRUE(exists(dir.file("cover.jpg")));
    EXPECT_TRUE(exists(dir.file("pic.png")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4) << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PackFilesFailures,
    testing::Values(FailureCase{"SubPath", {"cover.jpg"}, "sub", E_NOT_SUPPORTED},
                    FailureCase{"EmptySubPath", {"cover.jpg"}, "", E_NOT_SUPPORTED}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.label); });

int packReports = 0;
int WCX_CALL stopAtSecondReport(char*, int) { return ++packReports < 2 ? 1 : 0; }

// The host's stop is heard at the next block; what was put in before it is dropped.
TEST_F(PackFilesRun, StopAtABlockLeavesBookAndSources) {
    writeFile(dir.file("pic.png"), std::string(2 * kProgressBlock, 'p'));
    std::uint64_t before = fileHash(bookPath);
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    SetProcessDataProc(packing, stopAtSecondReport);
    EXPECT_EQ(pack(bookPath, srcPath, {"cover.jpg", "pic.png"}, PK_PACK_MOVE_FILES), E_EABORTED);
    SetProcessDataProc(packing, nullptr);
    EXPECT_EQ(packReports, 2) << "cover.jpg in one block, then the first block of pic.png";
    EXPECT_EQ(fileHash(bookPath), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4) << "no file deleted or left";
}

TEST_F(PackFilesRun, MissingSourceNamedInTheList) {
    std::filesystem::remove(dir.file("cover.jpg"));
    std::uint64_t before = fileHash(bookPath);
    EXPECT_EQ(pack(bookPath, srcPath, {"pic.png", "cover.jpg"}, PK_PACK_MOVE_FILES), E_EOPEN);
    EXPECT_EQ(fileHash(bookPath), before);
    EXPECT_TRUE(exists(dir.file("pic.png")));
}

TEST_F(PackFilesRun, BookThatDoesNotLoadIsNeverCreated) {
    std::string missing = dir.file("missing.fb2");
    EXPECT_EQ(pack(missing, srcPath, {"cover.jpg"}), E_EOPEN);
    EXPECT_EQ(pack(missing, srcPath, {"cover.jpg"}, 0, "sub"), E_EOPEN) << "the load comes first";
    EXPECT_FALSE(exists(missing));
    writeFile(missing, "not xml");
    EXPECT_EQ(pack(missing, srcPath, {"cover.jpg"}), E_EOPEN);
    EXPECT_EQ(readFile(missing), "not xml");
}

TEST_F(PackFilesRun, OtherRootHasNoEntries) {
    writeFile(bookPath, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html><binary id=\"pic.png\">T0xE</binary></html>\n");
    std::uint64_t before = fileHash(bookPath);
    EXPECT_EQ(pack(bookPath, srcPath, {"pic.png"}), E_NO_FILES);
    EXPECT_EQ(fileHash(bookPath), before);
}

TEST_F(PackFilesRun, ReadOnlyBookIsRefusedUntouched) {
    std::uint64_t before = fileHash(bookPath);
    std::filesystem::permissions(bookPath, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    EXPECT_EQ(pack(bookPath, srcPath, {"cover.jpg"}, PK_PACK_MOVE_FILES), E_EWRITE);
    EXPECT_EQ(fileHash(bookPath), before);
    EXPECT_TRUE(exists(dir.file("cover.jpg")));
    std::filesystem::permissions(bookPath, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
}

TEST_F(PackFilesRun, KeepsTheBooksPermissions) {
    using std::filesystem::perms;
    if (platform::pathSeparator() == '\\') GTEST_SKIP() << "Unix permissions only";
    std::filesystem::permissions(bookPath, perms::owner_read | perms::owner_write | perms::group_read);
    EXPECT_EQ(pack(bookPath, srcPath, {"cover.jpg"}), 0);
    EXPECT_EQ(std::filesystem::status(bookPath).permissions(), perms::owner_read | perms::owner_write | perms::group_read);
}

// A save that fails at any step (the temporary file, a write, the flush, the final
// rename) leaves the book byte for byte as it was and no temporary file behind.
class FailedSave : public PackFilesRun, public testing::WithParamInterface<platform::Fault> {};

TEST_P(FailedSave, LeavesTheBookAsItWas) {
    std::uint64_t before = fileHash(bookPath);
    // The first create/open/write of the run belongs to the save only for these kinds.
    platform::armFault(GetParam(), 1);
    EXPECT_EQ(pack(bookPath, srcPath, {"cover.jpg"}, PK_PACK_MOVE_FILES), E_EWRITE);
    platform::disarmFaults();
    EXPECT_EQ(fileHash(bookPath), before);
    EXPECT_TRUE(exists(dir.file("cover.jpg")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4) << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(Steps, FailedSave,
                         testing::Values(platform::Fault::create, platform::Fault::write, platform::Fault::flush,
                                         platform::Fault::rename));

}  // namespace
