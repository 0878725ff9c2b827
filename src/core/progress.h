// How the host hears how far a file has come while it is extracted or packed, and
// how it asks to stop. The core reports through a ProgressReporter; the export that
// makes the call binds the sink to the host's own callback.
#pragma once

#include <cstdint>
#include <string>

namespace vellum {

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

// The reports about one file. Without a sink nothing is reported and nothing stops.
class ProgressReporter {
public:
    ProgressReporter(ProgressSink* sink, const std::string& path) : sink_(sink) {
        if (sink_ != nullptr) sink_->beginFile(path);
    }
    // Tells the host that `bytes` more are done; false when it asks to stop.
    bool tell(std::int64_t bytes) { return sink_ == nullptr || sink_->report(bytes); }

private:
    ProgressSink* sink_;
};

}  // namespace vellum
