#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace vellum::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    for (;;) {
        fs::path candidate = fs::temp_directory_path() /
                             ("vellum-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TempDir::file(const std::string& name) const { return (path_ / name).string(); }

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string book(const std::string& body, bool withNamespace) {
    std::string root = withNamespace ? "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
                                       "xmlns:l=\"http://www.w3.org/1999/xlink\">"
                                     : "<FictionBook>";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + root + body + "</FictionBook>\n";
}

std::string binary(const std::string& id, const std::string& contentType, const std::string& text) {
    return "<binary id=\"" + id + "\" content-type=\"" + contentType + "\">" + text + "</binary>";
}

fs::path corpusBooks() {
    fs::path dir = fs::path(VELLUM_TEST_CORPUS) / "books";
    std::error_code error;
    return fs::is_directory(dir, error) ? dir : fs::path();
}

std::vector<fs::path> corpusBookFiles() {
    std::vector<fs::path> files;
    fs::path dir = corpusBooks();
    if (dir.empty()) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".fb2") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::uint64_t fileHash(const std::string& path) {
    // A block at a time: a test that measures memory may hash a book of 200 MB.
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 16);
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    std::uint64_t size = 0;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) h = (h ^ static_cast<unsigned char>(block[i])) * 1099511628211ull;
        size += static_cast<std::uint64_t>(in.gcount());
    }
    return h ^ size;
}

}  // namespace vellum::test
