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

// The root's default namespace name as a reader takes it from the bytes: references
// resolved, each literal tab or line break a space.
std::string rootNamespace(const std::string& bytes) {
    std::size_t at = bytes.find("<FictionBook");
    at = at == std::string::npos ? at : bytes.find("xmlns=", at);
    if (at == std::string::npos) return "<none>";
    const char quote = bytes[at + 6];
    const std::size_t end = bytes.find(quote, at + 7);
    std::string value;
    for (std::size_t i = at + 7; i < end; ++i) {
        if (bytes[i] != '&') {
            value += bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r' ? ' ' : bytes[i];
            continue;
        }
        const std::size_t semicolon = bytes.find(';', i);
        const std::string name = bytes.substr(i + 1, semicolon - i - 1);
        i = semicolon;
        if (name[0] == '#') {
            value += static_cast<char>(name[1] == 'x' ? std::stoi(name.substr(2), nullptr, 16) : std::stoi(name.substr(1)));
        } else {
            value += name == "lt" ? '<' : name == "gt" ? '>' : name == "amp" ? '&' : name == "quot" ? '"' : '\'';
        }
    }
    return value;
}

struct NamespaceCase {
    const char* label;
    const char* written;  // the namespace name as the book writes it
    bool serialised;      // the book declares an entity holding markup, so it is not spliced
};

class NamespaceNames : public testing::TestWithParam<NamespaceCase> {};

// A namespace name holding "<" or "&" (written "&lt;", "&amp;") came out of the
// serialiser unescaped, and the saved book no longer loaded; one holding a line break
// or a tab (written "&#10;", "&#9;") came out raw and read back with spaces in their
// place, so every element moved to another namespace. A save keeps the name, or
// fails and leaves the book as it was.
TEST_P(NamespaceNames, AreKeptBySaves) {
    const NamespaceCase& c = GetParam();
    TempDir dir;
    std::string path = dir.file("book.fb2");
    std::string original = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n") +
                           (c.serialised ? "<!DOCTYPE FictionBook [<!ENTITY e \"<emphasis>x</emphasis>\">]>\n" : "") +
                           "<FictionBook xmlns=\"" + c.written + "\"><body><p>&amp;</p></body>" +
                           binary("a.png", "image/png", "QUJD") + "</FictionBook>\n";
    writeFile(path, original);
    writeFile(dir.file("a.png"), "NEW");
    ASSERT_EQ(CanYouHandleThisFile(path.data()), 1);

    int result = pack(path, dir.path().string() + "/", {"a.png"});
    if (result == 0) {
        EXPECT_EQ(CanYouHandleThisFile(path.data()), 1) << readFile(path);
        EXPECT_EQ(rootNamespace(readFile(path)), rootNamespace(original)) << readFile(path);
    } else {
        EXPECT_EQ(result, E_EWRITE);
        EXPECT_EQ(readFile(path), original);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Books, NamespaceNames,
    testing::Values(NamespaceCase{"MarkupSpliced", "http:&lt;w&amp;x", false},
                    NamespaceCase{"MarkupSerialised", "http:&lt;w&amp;x&quot;'", true},
                    NamespaceCase{"LineBreakAndTabSpliced", "http://a&#10;b&#9;c&#13;", false},
                    NamespaceCase{"LineBreakAndTabSerialised", "http://a&#10;b&#9;c&#13;", true}),
    [](const testing::TestParamInfo<NamespaceCase>& info) { return std::string(info.param.label); });

}  // namespace
