// Bytes as a book: the host's whole reading walk over them. Recognition and opening
// must agree, every listed entry must test and extract, and an extraction must
// write exactly the size the listing announced (or leave no file at all).
#include "fuzz_support.h"
#include "plugin/wcx.h"

#include <cstring>
#include <string>

using namespace vellum::fuzz;

namespace {

long long reported = 0;

int countProgress(char*, int size) {
    reported += size;
    return 1;
}

bool isSafeName(const char* name) {
    std::size_t length = strnlen(name, 260);
    if (length == 0 || length >= 260) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string book = scratchFile("book.fb2");
    const std::string target = scratchFile("entry");
    writeBytes(book, data, size);

    const int recognised = CanYouHandleThisFile(const_cast<char*>(book.c_str()));
    require(recognised == 0 || recognised == 1, "CanYouHandleThisFile answered other than 0 or 1");

    tOpenArchiveData open{};
    open.ArcName = const_cast<char*>(book.c_str());
    open.OpenMode = PK_OM_EXTRACT;
    HANDLE_WCX handle = OpenArchive(&open);
    require((handle != nullptr) == (recognised == 1), "recognition and opening disagree");
    if (handle == nullptr) {
        require(open.OpenResult == E_EOPEN || open.OpenResult == E_BAD_ARCHIVE || open.OpenResult == E_NO_MEMORY,
                "OpenArchive failed with an unexpected code");
        return 0;
    }
    SetProcessDataProc(handle, countProgress);

    std::size_t entries = 0;
    for (;;) {
        tHeaderData header;
        std::memset(&header, 0, sizeof header);
        int result = ReadHeader(handle, &header);
        if (result == E_END_ARCHIVE) break;
        require(result == 0, "ReadHeader answered neither 0 nor E_END_ARCHIVE");
        require(++entries <= size + 1, "the listing does not end");
        require(isSafeName(header.FileName), "a listed name could leave the target folder");
        require(header.UnpSize >= 0 && header.PackSize >= 0, "a listed size is negative");

        require(ProcessFile(handle, PK_TEST, nullptr, nullptr) == 0, "a listed entry fails its test");
        require(ProcessFile(handle, PK_SKIP, nullptr, nullptr) == 0, "skipping an entry failed");

        reported = 0;
        result = ProcessFile(handle, PK_EXTRACT, nullptr, const_cast<char*>(target.c_str()));
        long long written = sizeOf(target);
        if (result == 0) {
            require(written == header.UnpSize, "an extraction wrote other than the listed size");
            require(reported == written, "progress reports do not add up to the bytes written");
        } else {
            require(written == -1, "a failed extraction left a file behind");
        }
        removePath(target);
    }
    require(ReadHeader(handle, nullptr) == E_END_ARCHIVE, "ReadHeader without a record did not end");
    require(ProcessFile(handle, PK_EXTRACT, nullptr, const_cast<char*>(target.c_str())) == E_BAD_DATA,
            "an extraction after the end was not refused");
    require(sizeOf(target) == -1, "an extraction after the end created a file");
    require(CloseArchive(handle) == 0, "CloseArchive failed");
    return 0;
}
