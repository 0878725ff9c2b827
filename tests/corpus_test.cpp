// Every real book of the shared corpus: listed and extracted byte for byte from its
// bytes, as the document tree shows it; cut short, still showing the pictures it
// holds whole; and put through a replacement that changes only the replaced content
// and the note, byte for byte.
#include "core/book_archive.h"
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

// A binary element whole in the bytes: a start tag named binary with an id, content
// without markup ("<" or "&") and its end tag, found with patterns of the test's own.
// For a corpus book these are the entries it lists, well-formed or not: every
// binary of the corpus is a child of FictionBook.
struct WholeBinary {
    std::string id;
    std::string text;
};

std::vector<WholeBinary> wholeBinaries(const std::string& bytes) {
    static const std::regex tag("<binary(\\s[^>]*)?>");
    static const std::regex idAttribute("\\sid\\s*=\\s*[\"']([^\"']*)[\"']");
    static const std::regex endTag("^</binary\\s*>");
    std::vector<WholeBinary> found;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), tag); it != std::sregex_iterator(); ++it) {
        std::smatch id;
        std::string attributes = (*it)[1].str();
        if (!std::regex_search(attributes, id, idAttribute)) continue;
        std::size_t start = static_cast<std::size_t>(it->position() + it->length());
        std::size_t end = bytes.find('<', start);
        if (end == std::string::npos || !std::regex_search(bytes.substr(end, 32), endTag)) continue;
        std::string text = bytes.substr(start, end - start);
        if (text.find('&') == std::string::npos) found.push_back({id[1].str(), text});
    }
    return found;
}

// Lists the book through the exports and extracts every entry: each entry must be
// the whole binary of the same place, with its size and its bytes.
void expectWholeBinaries(const std::string& path, const std::string& bytes) {
    std::vector<WholeBinary> expected = wholeBinaries(bytes);
    std::vector<ListedEntry> entries = listBook(path);
    ASSERT_EQ(entries.size(), expected.size() + 1);
    EXPECT_EQ(entries.back().name, "files.bbs");
    TempDir out;
    std::vector<std::string> names = extractBook(path, out.path().string());
    ASSERT_EQ(names.size(), entries.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string decoded = referenceDecode(expected[i].text);
        EXPECT_EQ(entries[i].name, expected[i].id);
        EXPECT_EQ(entries[i].unpSize, static_cast<int>(decoded.size())) << expected[i].id;
        EXPECT_TRUE(readFile(out.file(names[i])) == decoded) << expected[i].id;
    }
}

bool treeReads(const std::string& path) { return loadBook(path.c_str()) != nullptr; }

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

TEST(Corpus, ListsEveryWholeBinaryAndExtractsItsBytes) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int opened = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::string path = bookFile.string();
        std::string bytes = readFile(path);
        // Every corpus book opens, well-formed or damaged, but the one that is no XML.
        const bool isXml = bytes.find("<FictionBook") != std::string::npos;
        EXPECT_EQ(CanYouHandleThisFile(path.data()), isXml ? 1 : 0);
        if (!isXml) {
            EXPECT_TRUE(listBook(path).empty());
            continue;
        }
        ++opened;
        expectWholeBinaries(path, bytes);
    }
    EXPECT_EQ(opened, 25);
}

// Where the document tree reads a book, the book's bytes show exactly what it shows:
// the same entries, sizes and extracted bytes. The scan serves every one of them.
TEST(Corpus, TheScanShowsWhatTheTreeShows) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int compared = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::string path = bookFile.string();
        std::unique_ptr<BookArchive> tree, opened;
        if (openBookThroughTree(path, tree) != Status::ok) continue;
        ASSERT_EQ(openBookArchive(path, opened), Status::ok);
        EXPECT_TRUE(opened->fromBytes) << "read through the tree";
        EXPECT_TRUE(showAll(*opened) == showAll(*tree));
        ++compared;
    }
    EXPECT_GT(compared, 15);
}

// A book cut short (a download that stopped) opens, lists the pictures still whole
// before the cut and extracts them exactly; a packing run refuses it and leaves it
// as it is.
TEST(Corpus, BooksCutShortListTheirWholePictures) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int cuts = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        std::string original = readFile(bookFile.string());
        std::vector<WholeBinary> whole = wholeBinaries(original);
        if (whole.size() < 2) continue;
        // Inside the last picture, just before its end tag, and at a quarter, half and
        // three quarters of the book.
        std::size_t last = original.rfind("</binary>");
        for (std::size_t cut : {last - whole.back().text.size() / 2, last + 5, original.size() / 4,
                                original.size() / 2, 3 * original.size() / 4}) {
            SCOPED_TRACE(bookFile.filename().string() + " cut at " + std::to_string(cut));
            TempDir dir;
            std::string path = dir.file("book.fb2");
            std::string bytes = original.substr(0, cut);
            writeFile(path, bytes);
            EXPECT_EQ(CanYouHandleThisFile(path.data()), 1);
            expectWholeBinaries(path, bytes);
            EXPECT_EQ(pack(path, dir.path().string() + (isWine() ? "\\" : "/"), {whole.front().id}), E_EOPEN);
            EXPECT_TRUE(readFile(path) == bytes) << "the damaged book changed";
            ++cuts;
        }
    }
    EXPECT_GT(cuts, 40);
}

TEST(Corpus, ARunThatMatchesNothingLeavesTheBookAsItWas) {
    VELLUM_SKIP_WITHOUT_CORPUS();
    int untouched = 0;
    for (const fs::path& bookFile : corpusBookFiles()) {
        SCOPED_TRACE(bookFile.filename().string());
        std::vector<ListedEntry> before = listBook(bookFile.string());
        if (!treeReads(bookFile.string())) continue;  // no book, or damaged: no run changes it
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
        if (before.size() < 2 || !treeReads(bookFile.string())) continue;  // no binary, or damaged
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
