#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vellum::fuzz {

namespace fs = std::filesystem;

static void removeScratch() {
    std::error_code error;
    fs::remove_all(scratchDir(), error);
}

const std::string& scratchDir() {
    static const std::string dir = [] {
        std::string pattern = (fs::temp_directory_path() / "vellum-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create the scratch folder");
        return pattern;
    }();
    static const bool cleaned = (std::atexit(removeScratch), true);
    (void)cleaned;
    return dir;
}

std::string scratchFile(const char* name) { return scratchDir() + "/" + name; }

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) fail("cannot write a scratch file");
}

long long sizeOf(const std::string& path) {
    std::error_code error;
    auto size = fs::file_size(path, error);
    return error ? -1 : static_cast<long long>(size);
}

void removePath(const std::string& path) {
    std::error_code error;
    fs::remove(path, error);
}

void fail(const char* what) {
    std::fprintf(stderr, "vellum fuzz invariant broken: %s\n", what);
    std::abort();
}

}  // namespace vellum::fuzz
