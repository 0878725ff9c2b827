// What every test needs: a private folder, files in and out, inline books, the
// shared corpus, and the host thread set up as a file manager would.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vellum::test {

// Prepares the calling thread as the host does (COM on Windows); once per process.
void initHostThread();
// True when the tests run under Wine rather than on Windows itself.
bool isWine();

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as the host's 8-bit string.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// A FictionBook book around `body` (the root's content), UTF-8, with the default
// namespace and xlink declared unless `withNamespace` is false.
std::string book(const std::string& body, bool withNamespace = true);
// One binary element.
std::string binary(const std::string& id, const std::string& contentType, const std::string& text);

// The corpus of real books, empty when it is not there.
std::filesystem::path corpusBooks();
std::vector<std::filesystem::path> corpusBookFiles();

// A test-side Base64 codec that shares nothing with the library's.
std::string referenceDecode(const std::string& text);  // skips non-alphabet bytes, stops at "="
std::string referenceEncode(const std::string& bytes);

// A stable hash of a file's bytes, to show a book was left untouched.
std::uint64_t fileHash(const std::string& path);

}  // namespace vellum::test

#define VELLUM_SKIP_WITHOUT_CORPUS()                                                      \
    do {                                                                                  \
        if (::vellum::test::corpusBooks().empty())                                        \
            GTEST_SKIP() << "the shared corpus of books (../shared/corpus) is not there"; \
    } while (0)
