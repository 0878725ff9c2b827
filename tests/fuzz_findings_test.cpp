// Books the fuzzers found that once broke the library, each reduced to its point.
#include "support/book_fixture.h"
#include "support/pack_helpers.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace vellum::test;

namespace {

// A book declared in an encoding that writes XML's own punctuation as other bytes
// (UTF-7 writes "<" as "+ADw-") was saved in that encoding: the saved book no
// longer loaded. A save must leave a book that loads again with the same content.
TEST(PackFiles, BookInAnEncodingThatHidesMarkupStillLoadsAfterTheSave) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    std::string original =
        "<?xml version=\"1.0\" encoding=\"utf-7\"?>\n<FictionBook><body><p>plain text</p></body>" +
        binary("mixed.png", "image/png", "QU<!-- c -->JD") + "</FictionBook>\n";
    writeFile(path, original);
    writeFile(dir.file("mixed.png"), "NEW");
    const bool loadable = CanYouHandleThisFile(path.data()) == 1;

    int result = pack(path, dir.path().string() + "/", {"mixed.png"});
    if (!loadable) {
        // A document service without this encoding refuses the book and leaves it alone.
        EXPECT_EQ(result, E_EOPEN);
        EXPECT_EQ(readFile(path), original);
        return;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(CanYouHandleThisFile(path.data()), 1) << readFile(path).substr(0, 120);
    TempDir out;
    std::vector<std::string> names = extractBook(path, out.path().string());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(readFile(out.file("mixed.png")), "NEW");
    EXPECT_NE(readFile(path).find("plain text"), std::string::npos);
}

// A namespace name holding "<" (written "&lt;" in the book) came out of a save
// unescaped, and the saved book no longer loaded. Either the save writes it so
// that the book loads again, or the run fails and leaves the book as it was.
TEST(PackFiles, NamespaceNameWithMarkupNeverCorruptsTheBook) {
    TempDir dir;
    std::string path = dir.file("book.fb2");
    std::string original = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<FictionBook xmlns=\"http:&lt;w&amp;x\">" +
                           binary("dtd.png", "image/png", "QUJD") + "</FictionBook>\n";
    writeFile(path, original);
    writeFile(dir.file("dtd.png"), "NEW");
    ASSERT_EQ(CanYouHandleThisFile(path.data()), 1);

    int result = pack(path, dir.path().string() + "/", {"dtd.png"});
    if (result == 0) {
        EXPECT_EQ(CanYouHandleThisFile(path.data()), 1) << readFile(path);
    } else {
        EXPECT_EQ(result, E_EWRITE);
        EXPECT_EQ(readFile(path), original);
    }
}

}  // namespace
