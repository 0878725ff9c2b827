// The platform layer as the core uses it: files written and read, and text between
// the host's 8-bit strings and UTF-16. A book's save has its own tests.
#include "platform/platform.h"
#include "platform/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vellum;
using namespace vellum::test;

namespace {

std::string readAll(const std::string& path) {
    platform::File file = platform::openForReading(path.c_str());
    EXPECT_TRUE(file.isOpen()) << path;
    std::string out;
    char buffer[7];  // small, so a read ends inside the file
    for (std::uint32_t got = 0;; out.append(buffer, got)) {
        EXPECT_TRUE(platform::readSome(file, buffer, sizeof buffer, got));
        if (got == 0) break;
    }
    return out;
}

TEST(PlatformFiles, WriteTruncatesReadSizeAndRemove) {
    TempDir dir;
    std::string path = dir.file("out.bin");
    {
        platform::File file = platform::createForWriting(path.c_str());
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(platform::writeAll(file, "0123456789abcdef\0z", 18));
        EXPECT_TRUE(platform::flushToDisk(file));
        EXPECT_TRUE(file.close());
        EXPECT_TRUE(file.close()) << "a second close has nothing to do";
    }
    {
        platform::File file = platform::createForWriting(path.c_str());
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(platform::writeAll(file, "short", 5));
    }
    EXPECT_EQ(readAll(path), "short") << "creating truncates";
    platform::File file = platform::openForReading(path.c_str());
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(file, size));
    EXPECT_EQ(size, 5u);
    file.close();

    EXPECT_TRUE(platform::fileExists(path.c_str()));
    EXPECT_TRUE(platform::removeFile(path.c_str()));
    EXPECT_FALSE(platform::fileExists(path.c_str()));
    EXPECT_FALSE(platform::removeFile(path.c_str()));
    EXPECT_FALSE(platform::openForReading(path.c_str()).isOpen()) << "missing";
    EXPECT_FALSE(platform::openForReading(dir.path().string().c_str()).isOpen()) << "a folder is no file";
    EXPECT_FALSE(platform::createForWriting(dir.file("no/such/folder").c_str()).isOpen());
}

// Windows' plain calls stop at MAX_PATH (260); a longer absolute path still names
// its file, "." and ".." and either slash included.
TEST(PlatformFiles, PathsLongerThanMaxPathWork) {
    TempDir dir;
    std::string folder = dir.path().string(), sep(1, platform::pathSeparator());
    for (int i = 0; i < 5; ++i)
        std::filesystem::create_directory(folder += sep + std::string(60, 'd') + std::to_string(i));
    std::string path = folder + sep + "." + sep + ".." + "/" + std::string(60, 'd') + "4" + sep + "file.bin";
    ASSERT_GT(path.size(), 340u);
    {
        platform::File file = platform::createForWriting(path.c_str());
        ASSERT_TRUE(file.isOpen());
        ASSERT_TRUE(platform::writeAll(file, "long", 4));
    }
    EXPECT_EQ(readAll(path), "long");
    EXPECT_TRUE(platform::fileExists((folder + sep + "file.bin").c_str()));
    EXPECT_TRUE(platform::removeFile(path.c_str()));
    EXPECT_FALSE(platform::fileExists(path.c_str()));
}

TEST(PlatformFiles, MovedHandleIsClosedOnce) {
    TempDir dir;
    std::string path = dir.file("moved.bin");
    platform::File first = platform::createForWriting(path.c_str());
    ASSERT_TRUE(first.isOpen());
    platform::File second = std::move(first);
    EXPECT_FALSE(first.isOpen());
    ASSERT_TRUE(platform::writeAll(second, "x", 1));
    second = platform::File();
    EXPECT_TRUE(platform::removeFile(path.c_str())) << "the handle was closed, so the file goes";
}

TEST(PlatformFiles, ReadOnlyBookIsSeen) {
    TempDir dir;
    std::string book = dir.file("book.fb2");
    writeFile(book, "book");
    namespace fs = std::filesystem;
    fs::permissions(book, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(platform::isReadOnly(book.c_str()));
    EXPECT_FALSE(platform::isReadOnly(dir.file("missing").c_str()));
    fs::permissions(book, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_FALSE(platform::isReadOnly(book.c_str()));
}

TEST(PlatformText, AsciiRoundTripsAndTheUnwritableBecomesASpace) {
    EXPECT_EQ(platform::toHostText(""), "");
    EXPECT_EQ(platform::fromHostText(""), "");
    EXPECT_EQ(platform::toHostText("cover.jpg QUJD+/="), "cover.jpg QUJD+/=");
    EXPECT_EQ(platform::fromHostText("cover.jpg QUJD+/="), "cover.jpg QUJD+/=");
    EXPECT_EQ(platform::utf8FromUtf16(u"\u043e\U0001F600"), "\xd0\xbe\xf0\x9f\x98\x80");
    EXPECT_EQ(platform::utf16FromUtf8("\xd0\xbe\xf0\x9f\x98\x80"), u"\u043e\U0001F600");
    // A lone surrogate is no character in any code page.
    EXPECT_EQ(platform::utf8FromUtf16(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a b");
    // Text with a zero inside is converted whole.
    EXPECT_EQ(platform::toHostText(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(PlatformText, NamesCompareWithoutRegardToCase) {
    EXPECT_TRUE(platform::sameName("Cover.JPG", "cover.jpg"));
    EXPECT_TRUE(platform::sameName("files.bbs", "FILES.BBS"));
    EXPECT_TRUE(platform::sameName("", ""));
    EXPECT_FALSE(platform::sameName("cover.jpg", "cover.jpeg"));
    EXPECT_FALSE(platform::sameName("cover", "cover "));
}

TEST(PlatformClock, NowIsAPlausibleUtcTime) {
    platform::UtcTime now = platform::utcNow();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 60);
}

}  // namespace
