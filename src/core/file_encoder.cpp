#include "core/file_encoder.h"

#include "book/base64.h"
#include "platform/platform.h"

#include <algorithm>
#include <vector>

namespace vellum {

namespace {

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

Status encodeFileIntoBinary(const Node& element, const std::string& sourcePath, ProgressSink* progress) {
    platform::File file = platform::openForReading(sourcePath.c_str());
    if (!file.isOpen()) return Status::openFailed;
    std::uint64_t size = 0;
    if (!platform::fileSize(file, size)) return Status::readFailed;
    if (size >= kMaxReplacementSize) return Status::notSupported;
    if (size == 0) return replaceElementText(element, std::string_view()) ? Status::ok : Status::writeFailed;

    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (!readWhole(file, bytes)) return Status::readFailed;
    file.close();

    std::string text(base64EncodedLength(bytes.size()), '\0');
    encodeBase64(bytes.data(), bytes.size(), text.data());

    // The host hears of every three bytes, then of the tail, and may abort.
    ProgressReporter reporter(progress, sourcePath);
    for (std::size_t group = 0; group < bytes.size() / 3; ++group)
        if (!reporter.tell(3)) return Status::aborted;
    if (std::size_t tail = bytes.size() % 3; tail != 0 && !reporter.tell(static_cast<std::int64_t>(tail)))
        return Status::aborted;
    return replaceElementText(element, text) ? Status::ok : Status::writeFailed;
}

}  // namespace vellum
