// Bytes split into a replacement file and a book: a packing run over a copy of the
// book. A run that fails must leave the book byte for byte as it was and no
// temporary file beside it; a run that succeeds must leave a book that loads as
// before and whose matched entry now extracts to exactly the replacement's bytes.
//
// Input layout: one byte of flags (1 move the files, 2 also list "files.bbs",
// 4 also list a name no element has), two bytes of replacement length (little
// endian, cut to what is there), the replacement, then the book.
#include "fuzz_support.h"
#include "plugin/wcx.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

using namespace vellum::fuzz;

namespace {

// The first id="..." (or id='...') value in the book's bytes, when it can serve as
// a plain file name; else a name that no book of the seeds uses.
std::string firstId(std::string_view book) {
    for (std::size_t at = book.find("id="); at != std::string_view::npos; at = book.find("id=", at + 3)) {
        if (at + 3 >= book.size()) break;
        char quote = book[at + 3];
        if (quote != '"' && quote != '\'') continue;
        std::size_t end = book.find(quote, at + 4);
        if (end == std::string_view::npos) break;
        std::string_view id = book.substr(at + 4, end - at - 4);
        bool plain = !id.empty() && id.size() <= 64;
        for (char c : id) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '-' || c == '_';
            plain = plain && ok;
        }
        if (plain && id != "." && id != "..") return std::string(id);
    }
    return "no-such-id.bin";
}

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string readAll(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

// Opens the saved book and extracts every entry listed as `name`; true when one of
// them holds exactly `expected`, or when no entry has that name.
bool someEntryHolds(const std::string& book, const std::string& name, const std::string& expected,
                    const std::string& target) {
    tOpenArchiveData open{};
    open.ArcName = const_cast<char*>(book.c_str());
    HANDLE_WCX handle = OpenArchive(&open);
    require(handle != nullptr, "a saved book does not open");
    bool listed = false, holds = false;
    tHeaderData header;
    std::memset(&header, 0, sizeof header);
    while (!holds && ReadHeader(handle, &header) == 0) {
        if (!sameIgnoringAsciiCase(header.FileName, name)) continue;
        listed = true;
        if (ProcessFile(handle, PK_EXTRACT, nullptr, const_cast<char*>(target.c_str())) == 0)
            holds = readAll(target) == expected;
        removePath(target);
    }
    CloseArchive(handle);
    return holds || !listed;
}

int acceptAll(char*, int) { return 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int flags = data[0];
    std::size_t replacementSize = static_cast<std::size_t>(data[1]) | (static_cast<std::size_t>(data[2]) << 8);
    if (replacementSize > size - 3) replacementSize = size - 3;
    const std::uint8_t* replacement = data + 3;
    const std::uint8_t* bookBytes = replacement + replacementSize;
    const std::size_t bookSize = size - 3 - replacementSize;
    const std::string_view original(reinterpret_cast<const char*>(bookBytes), bookSize);

    const std::string book = scratchFile("book.fb2");
    const std::string sources = scratchFile("src");
    std::filesystem::create_directories(sources);
    writeBytes(book, bookBytes, bookSize);
    const std::string name = firstId(original);
    const std::string source = sources + "/" + name;
    writeBytes(source, replacement, replacementSize);

    std::string list = name + '\0';
    if (flags & 2) list += std::string("files.bbs") + '\0';
    if (flags & 4) list += std::string("absent-name.png") + '\0';
    list += '\0';

    const int loadedBefore = CanYouHandleThisFile(const_cast<char*>(book.c_str()));
    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), acceptAll);
    std::string folder = sources + "/";
    const int result = PackFiles(const_cast<char*>(book.c_str()), nullptr, folder.data(), list.data(),
                                 (flags & 1) ? PK_PACK_MOVE_FILES : 0);
    SetProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), nullptr);

    require(result == 0 || result == E_EOPEN || result == E_EREAD || result == E_EWRITE || result == E_NO_FILES ||
                result == E_NOT_SUPPORTED || result == E_NO_MEMORY,
            "PackFiles answered an unexpected code");
    std::size_t filesBeside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratchDir())) {
        (void)entry;
        ++filesBeside;
    }
    require(filesBeside == 2, "a packing run left a file beside the book");

    if (result != 0) {
        require(readAll(book) == original, "a failed packing run changed the book");
        require(sizeOf(source) == static_cast<long long>(replacementSize), "a failed run touched the source file");
    } else {
        require(CanYouHandleThisFile(const_cast<char*>(book.c_str())) == loadedBefore,
                "a saved book no longer loads as it did");
        if (loadedBefore == 1) {
            std::string expected(reinterpret_cast<const char*>(replacement), replacementSize);
            require(someEntryHolds(book, name, expected, scratchFile("src/extracted")),
                    "no entry of the replaced name holds the replacement's bytes");
        }
    }
    removePath(source);
    return 0;
}
