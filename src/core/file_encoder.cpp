#include "core/file_encoder.h"

#include "book/base64.h"
#include "platform/platform.h"

#include <algorithm>
#include <vector>

namespace vellum {

Status encodeFileIntoBinary(const Node& element, const std::string& sourcePath, ProgressSink* progress) {
    platform::File file = platform::openForReading(sourcePath.c_str());
    if (!file.isOpen()) return Status::openFailed;
    std::uint64_t size = 0;
    if (!platform::fileSize(file, size)) return Status::readFailed;
    if (size >= kMaxReplacementSize) return Status::notSupported;
    if (size == 0) return replaceElementText(element, std::string_view()) ? Status::ok : Status::writeFailed;

    // The file is read and encoded block by block, each block reported; every block
    // but the last is whole groups of three, so its text needs no padding and the
    // next one's follows it directly.
    std::string text(base64EncodedLength(static_cast<std::size_t>(size)), '\0');
    std::vector<unsigned char> block(static_cast<std::size_t>(std::min<std::uint64_t>(size, kProgressBlock)));
    ProgressReporter reporter(progress, sourcePath);
    for (std::size_t done = 0; done < size;) {
        std::size_t n = std::min(static_cast<std::size_t>(size) - done, block.size());
        if (!platform::readFully(file, block.data(), n)) return Status::readFailed;
        encodeBase64(block.data(), n, text.data() + done / 3 * 4);
        done += n;
        if (!reporter.tell(static_cast<std::int64_t>(n))) return Status::aborted;
    }
    file.close();
    return replaceElementText(element, text) ? Status::ok : Status::writeFailed;
}

}  // namespace vellum
