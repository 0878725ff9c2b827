// One writer at a time on a book: the lock's wait and bound, and many packs of one
// book at once, each of whose changes must land while readers read on.
#include "platform/book_file.h"
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

using namespace vellum;
using namespace vellum::test;

namespace {

TEST(BookLock, SecondWriterWaitsWithABoundAndGetsTheLockOnceFree) {
    TempDir dir;
    std::string book = dir.file("book.fb2");
    writeFile(book, "book");
    // The first writer holds the lock in a thread of its own for half a second.
    std::atomic<bool> taken{false};
    std::thread first([&] {
        platform::BookLock lock = platform::lockBook(book.c_str());
        taken = lock.held();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    while (!taken) std::this_thread::yield();

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::lockBook(book.c_str(), 200).state(), platform::BookLock::State::busy);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(readFile(book), "book") << "readers are not kept out";
    EXPECT_TRUE(platform::lockBook(book.c_str(), 10000).held());
    first.join();

    EXPECT_EQ(platform::lockBook(dir.file("missing.fb2").c_str()).state(), platform::BookLock::State::cannotOpen);
    EXPECT_EQ(platform::lockBook(dir.path().string().c_str()).state(), platform::BookLock::State::cannotOpen);
}

// 20 packs of 20 different pictures of one book at once, with a reader listing the
// book all the while: every replacement and every note lands, no listing ever sees
// a broken book, and no new file stays beside the book.
TEST(BookLock, TwentyPacksAtOnceAllLand) {
    constexpr int kPacks = 20;
    TempDir dir, sources;
    std::string book = dir.file("book.fb2");
    std::string binaries;
    // Pictures large enough that a pack takes a while.
    std::string picture = referenceEncode(std::string(48 << 10, 'o'));
    for (int i = 0; i < kPacks; ++i) binaries += binary("p" + std::to_string(i) + ".png", "image/png", picture);
    writeFile(book, test::book("<description><document-info><history/></document-info></description>" + binaries));
    std::string folder = sources.path().string() + platform::pathSeparator();
    for (int i = 0; i < kPacks; ++i) writeFile(sources.file("p" + std::to_string(i) + ".png"), "NEW" + std::to_string(i));

    std::atomic<int> ready{0};
    std::atomic<bool> done{false};
    int results[kPacks];
    std::vector<std::thread> packs;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPacks; ++i)
        packs.emplace_back([&, i] {
            initHostThread();
            ++ready;
            while (ready.load() < kPacks) std::this_thread::yield();
            // Staggered, so that some come while others wait on a file since replaced.
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * i));
            results[i] = pack(book, folder, {"p" + std::to_string(i) + ".png"});
        });
    int listings = 0, broken = 0, refused = 0;
    std::thread reader([&] {
        initHostThread();
        for (; !done.load(); ++listings) {
            tOpenArchiveData data{};
            data.ArcName = const_cast<char*>(book.c_str());
            HANDLE_WCX handle = OpenArchive(&data);
            if (handle == nullptr) {
                ++refused;
                continue;
            }
            if (listAll(handle).size() != kPacks + 1) ++broken;
            CloseArchive(handle);
            // A file manager lists now and then; a reader that never lets go of the
            // book would hold off a replacement on Windows.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    for (std::thread& t : packs) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    reader.join();

    for (int i = 0; i < kPacks; ++i) EXPECT_EQ(results[i], 0) << "pack " << i;
    EXPECT_EQ(broken, 0) << "of " << listings << " listings";
    // On Windows the move that puts a new book in place holds it open, with the right
    // to delete it, for an instant, and a reader that does not share deletion cannot
    // open it then.
    if (platform::pathSeparator() == '/') {
        EXPECT_EQ(refused, 0) << "of " << listings << " listings";
    }
    std::string text = readFile(book);
    for (int i = 0; i < kPacks; ++i)
        EXPECT_NE(text.find(referenceEncode("NEW" + std::to_string(i))), std::string::npos) << "picture " << i;
    int notes = 0;
    for (std::size_t at = 0; (at = text.find("items replaced", at)) != std::string::npos; ++at) ++notes;
    EXPECT_EQ(notes, kPacks);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a new file stayed";
    std::printf("%d packs at once: all done in %.2f s; %d listings meanwhile, %d broken, %d refused\n", kPacks,
                seconds, listings, broken, refused);
}

}  // namespace
