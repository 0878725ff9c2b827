// A save on Windows keeps the file the user had: its attributes, streams and
// creation time when a new file replaces it, and both names of a hard-linked book.
#include "platform/platform.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>

using namespace vellum;
using namespace vellum::test;

namespace {

const std::string kNewPicture = "NEW PICTURE";

struct Scene {
    TempDir dir, sources;
    std::string book = dir.file("book.fb2");
    std::string folder = sources.path().string() + "\\";
    Scene() {
        writeFile(sources.file("cover.jpg"), kNewPicture);
        writeFile(book, test::book(binary("cover.jpg", "image/jpeg", "T0xE")));
    }
    bool saved(const std::string& path) const {
        return readFile(path).find(referenceEncode(kNewPicture)) != std::string::npos;
    }
};

bool creationTime(const std::string& path, FILETIME& time, const FILETIME* set = nullptr) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = set != nullptr ? SetFileTime(file, set, nullptr, nullptr) : GetFileTime(file, &time, nullptr, nullptr);
    CloseHandle(file);
    return ok;
}

TEST(WindowsSave, ReplacementKeepsAttributesStreamsAndCreationTime) {
    Scene s;
    ASSERT_TRUE(SetFileAttributesA(s.book.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    std::string stream = s.book + ":origin";
    writeFile(stream, "https://example.org/book.fb2");
    // A stream, not a file of that name beside the book.
    bool streams = readFile(stream) == "https://example.org/book.fb2" &&
                   std::distance(std::filesystem::directory_iterator(s.dir.path()), {}) == 1;
    FILETIME old{0x12345678, 0x01C00000}, before{}, after{};
    bool created = creationTime(s.book, before, &old) && creationTime(s.book, before) &&
                   CompareFileTime(&before, &old) == 0;

    ASSERT_EQ(pack(s.book, s.folder, {"cover.jpg"}), 0);
    EXPECT_TRUE(s.saved(s.book));
    EXPECT_EQ(GetFileAttributesA(s.book.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    if (streams) {
        EXPECT_EQ(readFile(stream), "https://example.org/book.fb2");
    } else {
        std::printf("[   WINE   ] no alternate data streams: the stream's test is passed over\n");
    }
    if (created && creationTime(s.book, after)) {
        EXPECT_EQ(CompareFileTime(&after, &before), 0) << "the creation time changed";
    } else {
        std::printf("[   WINE   ] a creation time cannot be set: its test is passed over\n");
    }
}

// A book whose path is longer than MAX_PATH is read, and changed: the document is
// loaded from the file the plug-in opens, not from the path.
TEST(WindowsSave, BookDeeperThanMaxPathIsChanged) {
    Scene s;
    std::string folder = s.dir.path().string();
    for (int i = 0; i < 5; ++i) std::filesystem::create_directory(folder += "\\" + std::string(60, 'd') + std::to_string(i));
    std::string book = folder + "\\book.fb2";
    ASSERT_GT(book.size(), 300u);
    auto bytesOf = [](const std::string& path) {
        platform::File file = platform::openForReading(path.c_str());
        std::string bytes(1 << 12, '\0');
        std::uint32_t got = 0;
        platform::readSome(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), got);
        return bytes.substr(0, got);
    };
    {
        platform::File file = platform::createForWriting(book.c_str());
        std::string text = test::book(binary("cover.jpg", "image/jpeg", "T0xE"));
        ASSERT_TRUE(platform::writeAll(file, text.data(), text.size()));
    }
    EXPECT_EQ(CanYouHandleThisFile(book.data()), 1);
    EXPECT_EQ(listBook(book).size(), 2u);
    ASSERT_EQ(pack(book, s.folder, {"cover.jpg"}), 0);
    EXPECT_NE(bytesOf(book).find(referenceEncode(kNewPicture)), std::string::npos);
    std::vector<ListedEntry> after = listBook(book);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].unpSize, static_cast<int>(kNewPicture.size()));
}

TEST(WindowsSave, HardLinkedBookIsWrittenInPlace) {
    Scene s;
    std::string other = s.dir.file("other.fb2");
    if (!CreateHardLinkA(other.c_str(), s.book.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    ASSERT_EQ(pack(other, s.folder, {"cover.jpg"}), 0);
    EXPECT_TRUE(s.saved(s.book));
    EXPECT_TRUE(s.saved(other));
}

}  // namespace
