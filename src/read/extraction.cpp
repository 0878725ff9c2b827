#include "read/extraction.h"

#include "book/binary_entry.h"

#include <cstring>
#include <vector>

namespace vellum {

namespace {

constexpr std::size_t kPathBuffer = 33000;
constexpr std::size_t kOutputBlock = 1 << 16;

// Closes and deletes a target that must not remain, and answers `code`.
int discard(platform::File& file, const std::string& path, int code) {
    file.close();
    platform::removeFile(path.c_str());
    return code;
}

int testElement(const BookArchive& archive) {
    Node node;
    if (!archive.binaries || !nodeListItem(archive.binaries, archive.currentIndex, node) || !node)
        return E_BAD_DATA;
    BinaryEntry entry{};
    return readBinaryEntry(entry, node, 1) ? 0 : E_BAD_DATA;
}

int extractElement(const BookArchive& archive, const char* destPath, const char* destName) {
    Node node;
    if (!archive.binaries || !nodeListItem(archive.binaries, archive.currentIndex, node) || !node)
        return E_BAD_DATA;
    ElementText text;
    if (!elementText(node, text)) return E_BAD_DATA;
    std::string target;
    if (!buildTargetPath(target, destPath, destName)) return E_ECLOSE;
    return decodeBinaryToFile(archive, text.ansi, target);
}

int extractIndex(const BookArchive& archive, const char* destPath, const char* destName) {
    std::string target;
    if (!buildTargetPath(target, destPath, destName)) return E_EOPEN;
    return writeIndexFile(archive, target);
}

}  // namespace

bool buildTargetPath(std::string& target, const char* destPath, const char* destName) {
    if (destName == nullptr) return false;
    target.clear();
    if (destPath != nullptr) {
        target = destPath;
        target += platform::pathSeparator();
    }
    target += destName;
    return target.size() <= kPathBuffer - 1;
}

int decodeBinaryToFile(const BookArchive& archive, std::string_view text, const std::string& targetPath) {
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return E_ECLOSE;

    // The host hears of every group of four characters (3 bytes), as it always has;
    // the bytes themselves go out in large blocks.
    tProcessDataProc progress = archive.processDataProc;
    char* reportName = const_cast<char*>(targetPath.c_str());
    std::vector<unsigned char> block(kOutputBlock);
    std::size_t used = 0;
    unsigned group[4];
    int held = 0;
    for (unsigned char c : text) {
        signed char v = kBase64Values[c];
        if (v == kBase64Pad) break;
        if (v < 0) continue;
        group[held++] = static_cast<unsigned>(v);
        if (held < 4) continue;
        held = 0;
        block[used++] = static_cast<unsigned char>((group[0] << 2) | (group[1] >> 4));
        block[used++] = static_cast<unsigned char>((group[1] << 4) | (group[2] >> 2));
        block[used++] = static_cast<unsigned char>((group[2] << 6) | group[3]);
        if (progress != nullptr && progress(reportName, 3) == 0) return discard(file, targetPath, E_EABORTED);
        if (used + 3 > block.size()) {
            if (!platform::writeAll(file, block.data(), used)) return discard(file, targetPath, E_EWRITE);
            used = 0;
        }
    }
    if (held > 0) {
        // A final group of k characters gives k - 1 bytes; its missing characters count as zero.
        for (int k = held; k < 4; ++k) group[k] = 0;
        unsigned char tail[3] = {static_cast<unsigned char>((group[0] << 2) | (group[1] >> 4)),
                                 static_cast<unsigned char>((group[1] << 4) | (group[2] >> 2)),
                                 static_cast<unsigned char>((group[2] << 6) | group[3])};
        std::memcpy(block.data() + used, tail, static_cast<std::size_t>(held - 1));
        used += static_cast<std::size_t>(held - 1);
        if (progress != nullptr && progress(reportName, held - 1) == 0)
            return discard(file, targetPath, E_EABORTED);
    }
    if (used > 0 && !platform::writeAll(file, block.data(), used)) return discard(file, targetPath, E_EWRITE);
    if (!file.close()) return discard(file, targetPath, E_EWRITE);
    return 0;
}

int writeIndexFile(const BookArchive& archive, const std::string& targetPath) {
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return E_EOPEN;
    char* reportName = const_cast<char*>(targetPath.c_str());
    const std::string& text = archive.indexText;
    for (std::size_t done = 0; done < text.size();) {
        std::size_t chunk = std::min<std::size_t>(text.size() - done, 65536);
        if (!platform::writeAll(file, text.data() + done, chunk)) return discard(file, targetPath, E_EWRITE);
        if (archive.processDataProc != nullptr &&
            archive.processDataProc(reportName, static_cast<int>(chunk)) == 0)
            return discard(file, targetPath, E_EABORTED);
        done += chunk;
    }
    if (!file.close()) return discard(file, targetPath, E_EWRITE);
    return 0;
}

int processFile(const BookArchive& archive, int operation, const char* destPath, const char* destName) {
    if (operation == PK_SKIP) return 0;
    if (operation != PK_TEST && operation != PK_EXTRACT) return E_BAD_DATA;
    switch (archive.listingPhase) {
    case 0:
        return operation == PK_TEST ? testElement(archive) : extractElement(archive, destPath, destName);
    case 1:
        return operation == PK_TEST ? 0 : extractIndex(archive, destPath, destName);
    default:
        return E_BAD_DATA;
    }
}

}  // namespace vellum
