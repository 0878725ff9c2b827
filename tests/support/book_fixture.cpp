#include "support/book_fixture.h"

#include "core/extraction.h"
#include "core/listing.h"

#include <gtest/gtest.h>

namespace vellum::test {

LoadedBook::LoadedBook(const std::string& xml) : path(dir.file("book.fb2")) {
    writeFile(path, xml);
    document = loadBook(path.c_str());
    if (document) selectNodes(document, "//FictionBook/binary", binaries);
}

Node LoadedBook::binary(int index) const {
    Node node;
    nodeListItem(binaries, index, node);
    return node;
}

OpenedBook::OpenedBook(const std::string& xml) : path(dir.file("book.fb2")) {
    writeFile(path, xml);
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    handle = OpenArchive(&data);
}

OpenedBook::~OpenedBook() { CloseArchive(handle); }

std::vector<ListedEntry> listAll(HANDLE_WCX handle) {
    std::vector<ListedEntry> entries;
    for (int guard = 0; guard < 1000000; ++guard) {
        tHeaderData header{};
        int result = ReadHeader(handle, &header);
        if (result == E_END_ARCHIVE) break;
        EXPECT_EQ(result, 0);
        if (result != 0) break;
        entries.push_back({header.FileName, header.PackSize, header.UnpSize, header.FileTime, header.FileAttr,
                           header.Flags});
        EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, nullptr), 0);
    }
    return entries;
}

std::vector<ListedEntry> listBook(const std::string& path) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (handle == nullptr) return {};
    std::vector<ListedEntry> entries = listAll(handle);
    CloseArchive(handle);
    return entries;
}

std::vector<std::string> extractBook(const std::string& path, const std::string& folder) {
    std::vector<std::string> names;
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    HANDLE_WCX handle = OpenArchive(&data);
    if (handle == nullptr) return names;
    tHeaderData header{};
    while (ReadHeader(handle, &header) == 0) {
        EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, const_cast<char*>(folder.c_str()), header.FileName), 0)
            << header.FileName;
        names.push_back(header.FileName);
    }
    CloseArchive(handle);
    return names;
}

bool saveBookTo(const BookDocument& document, const std::string& path) {
    std::string bytes;
    bool saved = saveBook(document, nullptr, [&](const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    });
    writeFile(path, bytes);
    return saved;
}

std::vector<Shown> showAll(BookArchive& archive) {
    TempDir out;
    const std::string target = out.file("entry");
    std::vector<Shown> shown;
    EntryDescription entry;
    while (readHeader(archive, entry) == Status::ok && entry.kind == platform::EntryKind::binary) {
        EXPECT_EQ(extractEntry(archive, "", &target, nullptr), Status::ok) << entry.id;
        shown.push_back({entry.name, entry.id, entry.contentType, entry.packedSize, entry.size, readFile(target)});
    }
    return shown;
}

}  // namespace vellum::test
