// The host's two interfaces side by side: the same books listed, extracted and packed
// through the 8-bit and the Unicode functions. Runs under code page 1252, where names
// in most scripts reach the 8-bit functions only as spaces.
#include "platform/platform.h"
#include "plugin/wcx.h"
#include "support/test_support.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace vellum;
using namespace vellum::test;

namespace {

std::u16string u16(const std::string& utf8) { return text::utf16FromUtf8(utf8); }
std::string ansi(const std::string& utf8) { return text::toCodePage(utf8).text; }
const HANDLE_WCX kPacking = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));

// Files by UTF-8 path, through the platform layer (which opens them by UTF-16 path).
void put(const std::string& path, const std::string& bytes) {
    platform::File file = platform::createForWriting(path.c_str());
    ASSERT_TRUE(file.isOpen() && platform::writeAll(file, bytes.data(), bytes.size()) && file.close()) << path;
}

std::string get(const std::string& path) {
    platform::File file = platform::openForReading(path.c_str());
    if (!file.isOpen()) return "<missing>";
    std::string bytes;
    char buffer[4096];
    for (std::uint32_t got = 0; platform::readSome(file, buffer, sizeof buffer, got) && got > 0;)
        bytes.append(buffer, got);
    return bytes;
}

// What the progress callbacks heard: bytes per path (UTF-8), per interface.
std::map<std::string, long long> heardNarrow, heardWide;
int WCX_CALL narrowProgress(char* path, int size) {
    heardNarrow[text::fromCodePage(path)] += size;
    return 1;
}
int WCX_CALL wideProgress(WCHAR_WCX* path, int size) {
    heardWide[text::utf8FromUtf16(path)] += size;
    return 1;
}

struct Listed {
    std::string name;  // UTF-8
    long long packed = 0, size = 0;
    int attr = 0, flags = 0;
    bool operator==(const Listed&) const = default;
};

// One interface of the host, driven as a file manager drives it; text in UTF-8.
struct Interface {
    bool wide;

    HANDLE_WCX open(const std::string& path, int& result) const {
        HANDLE_WCX handle;
        if (wide) {
            std::u16string name = u16(path);
            tOpenArchiveDataW data{};
            data.ArcName = name.data();
            handle = OpenArchiveW(&data);
            result = data.OpenResult;
            SetProcessDataProcW(handle, wideProgress);
        } else {
            std::string name = ansi(path);
            tOpenArchiveData data{};
            data.ArcName = name.data();
            handle = OpenArchive(&data);
            result = data.OpenResult;
            SetProcessDataProc(handle, narrowProgress);
        }
        return handle;
    }
    int read(HANDLE_WCX handle, Listed& entry) const {
        if (wide) {
            tHeaderDataExW header{};
            int result = ReadHeaderExW(handle, &header);
            EXPECT_EQ(header.PackSizeHigh | header.UnpSizeHigh, 0u);
            entry = {text::utf8FromUtf16(header.FileName), header.PackSize, header.UnpSize, header.FileAttr,
                     header.Flags};
            return result;
        }
        tHeaderData header{};
        int result = ReadHeader(handle, &header);
        entry = {text::fromCodePage(header.FileName), header.PackSize, header.UnpSize, header.FileAttr,
                 header.Flags};
        return result;
    }
    int extract(HANDLE_WCX handle, const std::string& folder, const std::string& name) const {
        if (wide) {
            std::u16string path = u16(folder), file = u16(name);
            return ProcessFileW(handle, PK_EXTRACT, path.data(), file.data());
        }
        std::string path = ansi(folder), file = ansi(name);
        return ProcessFile(handle, PK_EXTRACT, path.data(), file.data());
    }
    int pack(const std::string& book, const std::string& folder, const std::vector<std::string>& names) const {
        std::string list;
        for (const std::string& name : names) list += name + '\0';
        list += '\0';
        if (wide) {
            std::u16string path = u16(book), source = u16(folder), added = u16(list);
            SetProcessDataProcW(kPacking, wideProgress);
            return PackFilesW(path.data(), nullptr, source.data(), added.data(), 0);
        }
        std::string path = ansi(book), source = ansi(folder), added = ansi(list);
        SetProcessDataProc(kPacking, narrowProgress);
        return PackFiles(path.data(), nullptr, source.data(), added.data(), 0);
    }
    int canHandle(const std::string& path) const {
        if (wide) return CanYouHandleThisFileW(u16(path).data());
        return CanYouHandleThisFile(ansi(path).data());
    }
};

struct Case {
    const char* label;
    std::string book;                 // the book's file name
    std::vector<std::string> ids;     // each entry's content is "<content of ID>"
    std::string replacement;          // a file named so replaces `replaced`
    std::string replaced;
    bool fitsCodePage;                // every name survives code page 1252
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.label; }

// Everything a host sees of one case: the listing, the extracted files, the progress
// heard, and the same again after the replacement was packed.
struct Outcome {
    int openResult = 0, canHandle = 0, packResult = 0;
    std::vector<Listed> entries;
    std::map<std::string, std::string> files, filesAfter;
    std::map<std::string, long long> heard;
    bool operator==(const Outcome&) const = default;
};

// Lists and extracts every entry into `folder`; the files written, by entry name.
std::map<std::string, std::string> listAndExtract(const Interface& via, const std::string& book,
                                                  const std::string& folder, Outcome& out) {
    std::map<std::string, std::string> files;
    HANDLE_WCX handle = via.open(book, out.openResult);
    Listed entry;
    while (handle != nullptr && via.read(handle, entry) == 0) {
        out.entries.push_back(entry);
        EXPECT_EQ(via.extract(handle, folder, entry.name), 0) << entry.name;
        files[entry.name] = get(folder + "\\" + entry.name);
    }
    CloseArchive(handle);
    return files;
}

Outcome run(const Interface& via, const Case& c) {
    TempDir dir;
    std::string folder = dir.path().string(), base = folder + "\\";
    std::filesystem::create_directory(dir.path() / "after");
    std::filesystem::create_directory(dir.path() / "src");
    std::string binaries;
    for (const std::string& id : c.ids) binaries += binary(id, "image/png", referenceEncode("<content of " + id + ">"));
    put(base + c.book, book(binaries));
    put(base + "src\\" + c.replacement, "<replaced>");
    heardNarrow.clear();
    heardWide.clear();

    Outcome out;
    out.canHandle = via.canHandle(base + c.book);
    out.files = listAndExtract(via, base + c.book, folder, out);
    out.packResult = via.pack(base + c.book, base + "src\\", {c.replacement});
    Outcome after;
    out.filesAfter = listAndExtract(via, base + c.book, base + "after", after);
    // Paths as heard, relative to the case's folder.
    for (const auto& [path, bytes] : via.wide ? heardWide : heardNarrow)
        out.heard[path.rfind(base, 0) == 0 ? path.substr(base.size()) : "elsewhere: " + path] = bytes;
    return out;
}

// "files.bbs" in the host's code page, whichever interface extracts it.
std::string indexText(const Case& c) {
    std::string text;
    for (const std::string& id : c.ids) {
        std::string name = ansi(id);
        text += name + std::string(name.size() < 13 ? 13 - name.size() : 1, ' ') +
                std::to_string(("<content of " + id + ">").size()) + " image/png\r\n";
    }
    return text;
}

class BothInterfaces : public testing::TestWithParam<Case> {};

TEST_P(BothInterfaces, ListExtractAndReplaceAlike) {
    const Case& c = GetParam();
    ASSERT_EQ(ansi("é Ж"), "\xE9  ") << "the cases are made for code page 1252";
    Outcome wide = run(Interface{true}, c);
    ASSERT_EQ(wide.openResult, 0);
    EXPECT_EQ(wide.canHandle, 1);
    ASSERT_EQ(wide.entries.size(), c.ids.size() + 1);
    for (std::size_t i = 0; i < c.ids.size(); ++i) {
        const std::string& id = c.ids[i];
        std::string content = "<content of " + id + ">";
        EXPECT_EQ(wide.entries[i].name, id) << "listed in full";
        EXPECT_EQ(wide.entries[i].size, static_cast<long long>(content.size()));
        EXPECT_EQ(wide.files[id], content) << "each id extracts to a file of its own";
        EXPECT_EQ(wide.filesAfter[id], id == c.replaced ? "<replaced>" : content);
        EXPECT_EQ(wide.heard[id], static_cast<long long>(content.size())) << "the Unicode callback hears " << id;
    }
    EXPECT_EQ(wide.files["files.bbs"], indexText(c));
    EXPECT_EQ(wide.packResult, 0);
    EXPECT_EQ(wide.heard["src\\" + c.replacement], 10);
    if (c.fitsCodePage) {
        EXPECT_TRUE(run(Interface{false}, c) == wide) << "the 8-bit functions see the same";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, BothInterfaces,
    testing::Values(
        Case{"Ascii", "book.fb2", {"cover.jpg", "pic.png"}, "COVER.JPG", "cover.jpg", true},
        Case{"Latin1", "Bücher für Öl.fb2", {"café.png", "Ärger.jpg"}, "CAFÉ.PNG", "café.png", true},
        Case{"Cyrillic", "Война и мир.fb2", {"обложка.png", "рисунок.jpg"}, "ОБЛОЖКА.PNG", "обложка.png", false},
        Case{"Greek", "Οδύσσεια.fb2", {"εικόνα.png", "χάρτης.png"}, "ΕΙΚΌΝΑ.PNG", "εικόνα.png", false},
        Case{"Cjk", "東京物語.fb2", {"表紙.png", "挿絵.jpg"}, "挿絵.JPG", "挿絵.jpg", false},
        Case{"Emoji", "📚 книга.fb2", {"🖼.png", "📷-1.jpg"}, "🖼.PNG", "🖼.png", false},
        // The code page turns both into " .png": through the 8-bit functions they collide.
        Case{"SameInCodePage", "book.fb2", {"Ж.png", "Щ.png"}, "щ.PNG", "Щ.png", false}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

// The extended headers describe the entries ReadHeader describes, each on a handle of
// its own; names are cut at 258 bytes in the 8-bit records and at 1023 units in the
// Unicode one, where a surrogate pair is never split.
TEST(ReadHeaderEx, SameEntriesAsReadHeader) {
    std::string pairAtTheCut = std::string(1022, 'p') + "🖼";
    std::vector<std::string> ids = {"cover.jpg", "café.png", std::string(300, 'l'), pairAtTheCut,
                                    std::string(1030, 'w')};
    TempDir dir;
    std::string path = dir.file("book.fb2");
    std::string binaries;
    for (const std::string& id : ids) binaries += binary(id, "image/png", "QUJDRA==");
    writeFile(path, book(binaries));
    std::u16string widePath = u16(path);
    tOpenArchiveData narrowData{};
    narrowData.ArcName = path.data();
    tOpenArchiveDataW wideData{};
    wideData.ArcName = widePath.data();
    HANDLE_WCX plain = OpenArchive(&narrowData), ex = OpenArchive(&narrowData), exW = OpenArchiveW(&wideData);
    ASSERT_TRUE(plain != nullptr && ex != nullptr && exW != nullptr);

    tHeaderData header{};
    tHeaderDataEx headerEx;
    tHeaderDataExW headerExW;
    for (std::size_t i = 0; i <= ids.size(); ++i) {
        std::memset(&headerEx, 0x5A, sizeof headerEx);
        std::memset(&headerExW, 0x5A, sizeof headerExW);
        ASSERT_EQ(ReadHeader(plain, &header), 0);
        ASSERT_EQ(ReadHeaderEx(ex, &headerEx), 0);
        ASSERT_EQ(ReadHeaderExW(exW, &headerExW), 0);
        EXPECT_STREQ(headerEx.FileName, header.FileName);
        std::string wideName = text::utf8FromUtf16(headerExW.FileName);
        std::string full = i < ids.size() ? ids[i] : "files.bbs";
        if (full == pairAtTheCut)
            EXPECT_EQ(wideName, std::string(1022, 'p')) << "the pair is not split";
        else
            EXPECT_EQ(wideName, full.substr(0, 1023));
        unsigned packed = static_cast<unsigned>(header.PackSize), size = static_cast<unsigned>(header.UnpSize);
        EXPECT_EQ(std::vector<unsigned>({headerEx.PackSize, headerExW.PackSize, headerEx.UnpSize, headerExW.UnpSize}),
                  std::vector<unsigned>({packed, packed, size, size}));
        EXPECT_EQ(headerEx.PackSizeHigh | headerEx.UnpSizeHigh | headerExW.PackSizeHigh | headerExW.UnpSizeHigh, 0u);
        EXPECT_EQ(headerEx.FileTime, header.FileTime);
        platform::EntryKind kind = i == ids.size() ? platform::EntryKind::index : platform::EntryKind::binary;
        EXPECT_EQ(headerExW.FileAttr, platform::hostFileAttr(kind, 0x5A5A5A5A));
        EXPECT_EQ(headerExW.Flags, i < ids.size() ? 0x5A5A5A5A : 0);
        EXPECT_EQ(headerExW.ArcName[0], 0x5A5A) << "fields that describe no entry keep what the host put there";
        EXPECT_EQ(headerEx.Reserved[0], 0x5A);
        EXPECT_EQ(headerExW.HostOS, 0x5A5A5A5A);
    }
    EXPECT_EQ(ReadHeader(plain, &header), E_END_ARCHIVE);
    EXPECT_EQ(ReadHeaderEx(ex, &headerEx), E_END_ARCHIVE);
    EXPECT_EQ(ReadHeaderExW(exW, &headerExW), E_END_ARCHIVE);
    for (HANDLE_WCX handle : {plain, ex, exW}) CloseArchive(handle);
}

// A call through one interface reports through that interface's callback; when the
// host set only the other one, through that one.
TEST(ProgressCallbacks, EachInterfaceHearsItsOwnElseTheOther) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    writeFile(path, book(binary("a.png", "image/png", "QUJD")));
    std::string target = dir.file("a.png");
    struct Call {
        bool wideCall;
        bool setNarrow, setWide;
        long long narrowHears, wideHears;
    };
    for (const Call& call : {Call{true, true, true, 0, 3}, Call{false, true, true, 3, 0}, Call{true, true, false, 3, 0},
                             Call{false, false, true, 0, 3}}) {
        SCOPED_TRACE(testing::Message() << (call.wideCall ? "ProcessFileW" : "ProcessFile") << " narrow "
                                        << call.setNarrow << " wide " << call.setWide);
        heardNarrow.clear();
        heardWide.clear();
        std::u16string widePath = u16(path), wideTarget = u16(target);
        tOpenArchiveDataW data{};
        data.ArcName = widePath.data();
        HANDLE_WCX handle = OpenArchiveW(&data);
        ASSERT_NE(handle, nullptr);
        SetProcessDataProc(handle, call.setNarrow ? narrowProgress : nullptr);
        SetProcessDataProcW(handle, call.setWide ? wideProgress : nullptr);
        tHeaderDataExW header{};
        ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
        EXPECT_EQ(call.wideCall ? ProcessFileW(handle, PK_EXTRACT, nullptr, wideTarget.data())
                                : ProcessFile(handle, PK_EXTRACT, nullptr, target.data()),
                  0);
        CloseArchive(handle);
        EXPECT_EQ(heardNarrow[target], call.narrowHears);
        EXPECT_EQ(heardWide[target], call.wideHears);
    }
}

// Nothing, or a path that names no file the library could reach (a lone surrogate),
// opens nothing and writes nothing.
TEST(UnicodeExports, RefuseWhatNamesNoFile) {
    EXPECT_EQ(OpenArchiveW(nullptr), nullptr);
    tOpenArchiveDataW data{};
    EXPECT_EQ(OpenArchiveW(&data), nullptr);
    EXPECT_EQ(data.OpenResult, E_EOPEN);
    EXPECT_EQ(CanYouHandleThisFileW(nullptr), 0);
    EXPECT_EQ(PackFilesW(nullptr, nullptr, nullptr, nullptr, 0), E_EOPEN);

    // Each lone surrogate would become a space: "a b.fb2" and "x y" are other files.
    TempDir dir;
    std::string path = dir.file("a b.fb2");
    writeFile(path, book(binary("a.png", "image/png", "QUJD")));
    std::u16string lone = u16(dir.file("a")) + u'\xD800' + u"b.fb2";
    std::filesystem::create_directory(dir.path() / "x y");
    data.ArcName = lone.data();
    EXPECT_EQ(OpenArchiveW(&data), nullptr);
    EXPECT_EQ(CanYouHandleThisFileW(lone.data()), 0);
    std::u16string widePath = u16(path), folder = u16(dir.file("x")) + u'\xDC00' + u"y", name = u"a.png";
    data.ArcName = widePath.data();
    HANDLE_WCX handle = OpenArchiveW(&data);
    tHeaderDataExW header{};
    ASSERT_EQ(ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(ProcessFileW(handle, PK_EXTRACT, folder.data(), name.data()), E_ECLOSE);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "x y"));
    CloseArchive(handle);
}

}  // namespace
