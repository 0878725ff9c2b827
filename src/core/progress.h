// How the host hears how far a file has come while it is extracted or packed, and
// how it asks to stop. The core reports through a ProgressReporter; the export that
// makes the call binds the sink to the host's own callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum {

// Extraction and packing go through a file in blocks of this many bytes (whole
// Base64 groups of three, just under 256 KiB) and report once per block. Every
// report is a call into the host's progress dialog, which costs far more than the
// bytes themselves, while one block takes well under a millisecond: a host that
// asks to stop is heard at once.
inline constexpr std::size_t kProgressBlock = 3 * 87381;

// Where reports go: the host's callback, in the host's text.
class ProgressSink {
public:
    // A new file: the reports that follow are about `path`.
    virtual void beginFile(const std::string& path) = 0;
    // `bytes` more of the current file are done. False when the host asks to stop.
    virtual bool report(std::int64_t bytes) = 0;

protected:
    ~ProgressSink() = default;
};

// The reports about one file: one per block, adding up to the file's size, so an
// empty file has none and any other at least one. Without a sink nothing is
// reported and nothing stops.
class ProgressReporter {
public:
    ProgressReporter(ProgressSink* sink, const std::string& path) : sink_(sink) {
        if (sink_ != nullptr) sink_->beginFile(path);
    }
    // Tells the host that a block of `bytes` is done; false when it asks to stop.
    // An empty block is not told.
    bool tell(std::int64_t bytes) { return sink_ == nullptr || bytes == 0 || sink_->report(bytes); }

private:
    ProgressSink* sink_;
};

}  // namespace vellum
