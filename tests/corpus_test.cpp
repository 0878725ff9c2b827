// Every real book of the shared corpus: listed and extracted byte for byte, and put
// through a replacement that changes only the replaced content and the note, byte
// for byte.
#include "support/book_fixture.h"
#include "support/pack_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <regex>

using namespace vellum;
using namespace vellum::test;

namespace {

namespace fs = std::filesystem;

// The Base64 texts of the book's binary elements, found by scanning its bytes, not
// by parsing: an independent view of what extraction must give.
std::multimap<std::string, std::string> scanBinaries(const std::string& bytes) {
    static const std::regex tag("<binary(\\s[^>]*)?>");
    static const std::regex idAttribute("\\sid\\s*=\\s*[\"']([^\"']*)[\"']");
    std::multimap<std::string, std::string> found;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), tag); it != std::sregex_iterator(); ++it) {
        std::smatch id;
        std::string attributes = (*it)[1].str();
        if (!std::regex_search(attributes, id, idAttribute)) continue;
        std::size_t start = static_cast<std::size_t>(it->position() + it->length());
        std::size_t end = bytes.find("</binary>", start);
        if (end != std::string::npos) found.emplace(id[1].str(), bytes.substr(start, end - start));
    }
    return found;
}

// The book's bytes with the content of the first binary element whose id is `id`
// replaced by `text`: the expected bytes of a replacement, found by scanning the
// bytes with a pattern of the test's own.
std::string withContent(const std::string& bytes, const std::string& id, const std::string& text) {
    static const std::regex tag("<binary(\\s[^>]*)?>");
    static const std::regex idAttribute("\\sid\\s*=\\s*[\"']([^\"']*)[\"']");
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), tag); it != std::sregex_iterator(); ++it) {
        std::smatch found;
        std::string attributes = (*it)[1].str();
        if (!std::regex_search(attributes, found, idAttribute) || found[1].str() != id) continue;
        std::size_t start = static_cast<std::size_t>(it->position() + it->length());
        std::size_t end = bytes.find("</binary>", start);
        if (end == std::string::npos) break;
        return bytes.substr(0, start) + text + bytes.substr(end);
    }
    return "";
}

// Whether `saved` is `expected` with one note put in: its paragraph, wrapped in as
// many of the levels a book may lack (history, document-info, description) as it takes.
bool isWithOneNote(const std::string& saved, const std::string& expected) {
    std::size_t from = saved.find("<p>v++++1 ");
    std::size_t to = saved.find("</p>", from == std::string::npos ? 0 : from);
    if (from == std::string::npos || to == std::string::npos) return false;
    to += 4;
    static const char* const kLevels[] = {"history", "document-info", "description"};
    for (int depth = 0;; ++depth) {
        if (saved.compare(0, from, expected, 0, from) == 0 && saved.size() - to + from == expected.size() &&
            saved.compare(to, std::string::npos, expected, from, std::string::npos) == 0)
            return true;
        if (depth == 3) return false;
        std::string open = std::string("<") + kLevels[depth] + ">", close = std::string("</") + kLevels[depth] + ">";
        if (from < open.size() || saved.compare(from - open.size(), open.size(), open) != 0 ||
            saved.compare(to, close.size(), close) != 0)
            return false;
        from -= open.size();
        to += close.size();
    }
}

std::string allText(const std::string& path, const char* pattern) {
    BookDocument document = loadBook(path.c_str());
    NodeList list;
    std::int32_t count = 0;
    std::string text;
    if (!document || !selectNodes(document, pattern, list) || !nodeListLength(list, count)) return text;
    for (std::int32_t i = 0; i < count; ++i) {
        Node node;
        ElementText part;
        if (nodeListItem(list, i, node) && elementText(node, part)) text += std::string(part.text) + "\n";
    }
    return text;
}

std::string withoutNote(std::string text) {
    std::size_t at = text.find("v++++1 ");
    std::size_t end = text.find(") ", at == std::string::npos ? 0 : at);
    if (at != std::string::npos && end != std::string::npos) text.erase(at, end + 2 - at);
    return text;
}

bool validates(const std::string& path) {
    std::string command = "xmllint --noout --huge --schema '" VELLUM_TEST_SCHEMA "' '" + path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(Corpus, EveryEntryExtractsToTheBytesOfItsText) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int opened = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::string path = bookFile.string();
        std::vector<ListedEntry> entries = listBook(path);
        EXPECT_EQ(CanYouHandleThisFile(path.data()), entries.empty() ? 0 : 1);
        if (entries.empty()) continue;
        ++opened;
        std::multimap<std::string, std::string> texts = scanBinaries(readFile(path));
        TempDir out;
        std::vector<std::string> names = extractBook(path, out.path().string());
        ASSERT_EQ(names.size(), entries.size());
        EXPECT_EQ(names.back(), "files.bbs");
        for (std::size_t i = 0; i < entries.size(); ++i) {
            std::string bytes = readFile(out.file(names[i]));
            EXPECT_EQ(static_cast<int>(bytes.size()), entries[i].unpSize) << names[i];
            if (i + 1 == entries.size()) continue;
            auto range = texts.equal_range(names[i]);
            ASSERT_NE(range.first, range.second) << names[i];
            // With repeated ids the last element extracted wins the file name.
            EXPECT_EQ(bytes, referenceDecode(std::prev(range.second)->second)) << names[i];
        }
    }
    EXPECT_GT(opened, 15);
}

TEST(Corpus, ARunThatMatchesNothingLeavesTheBookAsItWas) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int untouched = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::vector<ListedEntry> before = listBook(bookFile.string());
        if (before.empty()) continue;  // does not open
        TempDir dir;
        std::string path = dir.file("book.fb2");
        fs::copy_file(bookFile, path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        std::string original = readFile(path);
        ASSERT_EQ(pack(path, dir.path().string() + (isWine() ? "\\" : "/"), {"no-such-entry.png"}), E_NO_FILES);
        EXPECT_TRUE(readFile(path) == original) << "the book changed";
        ++untouched;
    }
    EXPECT_GT(untouched, 20);
}

TEST(Corpus, ReplacingOneBinaryChangesOnlyThatEntry) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    std::mt19937 random(11);
    const bool checkSchema = !isWine() && std::system("xmllint --version >/dev/null 2>&1") == 0;
    int replaced = 0;
    int validated = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::vector<ListedEntry> before = listBook(bookFile.string());
        if (before.size() < 2) continue;  // does not open, or has no binary
        const std::string id = before[0].name;
        if (id.find_first_of("/\\:*?\"<>|") != std::string::npos) continue;

        TempDir dir;
        std::string path = dir.file("book.fb2");
        fs::copy_file(bookFile, path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);  // the corpus is read-only
        std::string original = readFile(path);
        TempDir oldFiles;
        extractBook(path, oldFiles.path().string());
        std::string bodies = allText(path, "FictionBook/body");
        std::string description = allText(path, "FictionBook/description");
        bool validBefore = checkSchema && validates(path);

        std::string replacement(1000 + random() % 5000, '\0');
        for (char& b : replacement) b = static_cast<char>(random());
        TempDir sources;
        writeFile(sources.file(id), replacement);
        ASSERT_EQ(pack(path, sources.path().string() + (isWine() ? "\\" : "/"), {id}), 0);

        // Outside the replaced content and the note, the saved book is the original.
        std::string expected = withContent(original, id, referenceEncode(replacement));
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(isWithOneNote(readFile(path), expected)) << "the saved book differs from the original elsewhere";

        std::vector<ListedEntry> after = listBook(path);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(after[0].unpSize, static_cast<int>(replacement.size()));
        TempDir newFiles;
        std::vector<std::string> names = extractBook(path, newFiles.path().string());
        EXPECT_EQ(readFile(newFiles.file(id)), replacement);
        for (std::size_t i = 1; i + 1 < names.size(); ++i) {
            if (names[i] == id) continue;
            EXPECT_EQ(readFile(newFiles.file(names[i])), readFile(oldFiles.file(names[i]))) << names[i];
        }
        EXPECT_EQ(allText(path, "FictionBook/body"), bodies);
        EXPECT_EQ(withoutNote(allText(path, "FictionBook/description")), description);
        ++replaced;
        if (validBefore) {
            ++validated;
            EXPECT_TRUE(validates(path)) << "the saved book no longer validates";
        }
    }
    std::printf("%d books replaced, %d of them valid before and after\n", replaced, validated);
    EXPECT_GT(replaced, 5);
}

}  // namespace
