#include "read/extraction.h"

#include "book/binary_entry.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vellum {

namespace {

constexpr std::size_t kPathBuffer = 33000;
constexpr std::size_t kOutputBlock = 1 << 16;

// Each character's 6-bit value already shifted to its place in a group of four, or
// kNotInGroup for anything but the 64 alphabet characters ("=" included).
constexpr std::uint32_t kNotInGroup = 0x80000000u;
constexpr auto kPlaced = [] {
    std::array<std::array<std::uint32_t, 256>, 4> placed{};
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int position = 0; position < 4; ++position) {
        for (auto& value : placed[position]) value = kNotInGroup;
        for (std::uint32_t i = 0; i < 64; ++i)
            placed[position][static_cast<unsigned char>(alphabet[i])] = i << (6 * (3 - position));
    }
    return placed;
}();

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
    if (!elementText(node, text, false)) return E_BAD_DATA;
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
    // Allocated before the file exists: running out of memory must not leave an
    // empty file behind.
    std::vector<unsigned char> block(kOutputBlock);
    platform::File file = platform::createForWriting(targetPath.c_str());
    if (!file.isOpen()) return E_ECLOSE;

    // The host hears of every group of four characters (3 bytes), as it always has;
    // the bytes themselves go out in large blocks.
    tProcessDataProc progress = archive.processDataProc;
    char* reportName = const_cast<char*>(targetPath.c_str());
    std::size_t used = 0;
    std::uint32_t group = 0;  // the characters held so far, 6 bits each
    int held = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    auto emit = [&](std::uint32_t bits) {
        block[used] = static_cast<unsigned char>(bits >> 16);
        block[used + 1] = static_cast<unsigned char>(bits >> 8);
        block[used + 2] = static_cast<unsigned char>(bits);
        used += 3;
    };
    while (p < end) {
        if (used + 3 > block.size()) {
            if (!platform::writeAll(file, block.data(), used)) return discard(file, targetPath, E_EWRITE);
            used = 0;
        }
        if (held == 0) {
            // The usual case: four alphabet characters in a row make one group.
            std::size_t room = (block.size() - used) / 3;
            while (room > 0 && end - p >= 4) {
                std::uint32_t bits = kPlaced[0][p[0]] | kPlaced[1][p[1]] | kPlaced[2][p[2]] | kPlaced[3][p[3]];
                if (bits & kNotInGroup) break;
                emit(bits);
                p += 4;
                --room;
                if (progress != nullptr && progress(reportName, 3) == 0) return discard(file, targetPath, E_EABORTED);
            }
            if (room == 0 || p >= end) continue;
        }
        signed char v = kBase64Values[*p++];
        if (v == kBase64Pad) break;
        if (v < 0) continue;
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++held < 4) continue;
        emit(group);
        group = 0;
        held = 0;
        if (progress != nullptr && progress(reportName, 3) == 0) return discard(file, targetPath, E_EABORTED);
    }
    if (held > 0) {
        // A final group of k characters gives k - 1 bytes; its missing characters count as zero.
        if (used + 3 > block.size()) {
            if (!platform::writeAll(file, block.data(), used)) return discard(file, targetPath, E_EWRITE);
            used = 0;
        }
        emit(group << (6 * (4 - held)));
        used -= static_cast<std::size_t>(4 - held);
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
