// The platform layer as the core uses it: files written and read, and the clock. A
// book's save has its own tests.
#include "platform/platform.h"
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

    EXPECT_TRUE(exists(path));
    EXPECT_TRUE(platform::removeFile(path.c_str()));
    EXPECT_FALSE(exists(path));
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
    EXPECT_TRUE(platform::openForReading((folder + sep + "file.bin").c_str()).isOpen());
    EXPECT_TRUE(platform::removeFile(path.c_str()));
    EXPECT_FALSE(platform::openForReading(path.c_str()).isOpen());
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
