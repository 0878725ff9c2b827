#include "replace/base64_encode.h"

#include "platform/platform.h"
#include "plugin/book_archive.h"
#include "plugin/wcx.h"

#include <vector>

namespace vellum {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool readWhole(const platform::File& file, std::vector<unsigned char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::uint32_t want = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        std::uint32_t got = 0;
        // A read that delivers nothing before the whole size is in (the file
        // shrank) ends the loop as a failed read rather than repeating it.
        if (!platform::readSome(file, bytes.data() + done, want, got) || got == 0) return false;
        done += got;
    }
    return true;
}

}  // namespace

void encodeBase64(const unsigned char* data, std::size_t size, char* out) {
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        unsigned b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = kAlphabet[b2 & 63];
    }
    std::size_t tail = size - i;
    if (tail > 0) {
        unsigned b0 = data[i], b1 = tail == 2 ? data[i + 1] : 0;
        *out++ = kAlphabet[b0 >> 2];
        *out++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = tail == 2 ? kAlphabet[(b1 & 15) << 2] : '=';
        *out++ = '=';
    }
}

int encodeFileIntoBinary(const Node& element, const char* sourcePath) {
    platform::File file = platform::openForReading(sourcePath);
    if (!file.isOpen()) return E_EOPEN;
    std::uint64_t size = 0;
    if (!platform::fileSize(file, size)) return E_EREAD;
    if (size >= kMaxReplacementSize) return E_NOT_SUPPORTED;
    if (size == 0) return replaceElementText(element, std::string_view()) ? 0 : E_EWRITE;

    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (!readWhole(file, bytes)) return E_EREAD;
    file.close();

    std::string text(base64EncodedLength(bytes.size()), '\0');
    encodeBase64(bytes.data(), bytes.size(), text.data());

    // The host hears of every three bytes, then of the tail, and may abort; the
    // callback is read anew before each call, as the host may change it.
    char* reportName = const_cast<char*>(sourcePath);
    std::size_t groups = bytes.size() / 3;
    for (std::size_t g = 0; g < groups; ++g) {
        tProcessDataProc progress = packProgressCallback;
        if (progress == nullptr) break;
        if (progress(reportName, 3) == 0) return E_EABORTED;
    }
    if (int tail = static_cast<int>(bytes.size() % 3); tail != 0) {
        tProcessDataProc progress = packProgressCallback;
        if (progress != nullptr && progress(reportName, tail) == 0) return E_EABORTED;
    }
    return replaceElementText(element, text) ? 0 : E_EWRITE;
}

}  // namespace vellum
