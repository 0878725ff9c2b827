// Running a piece of a test where its memory, time and side effects can be seen:
// a child process with its peak resident size (native), a loopback listener that
// counts connections, a watch that tells whether a file was ever opened, and a
// FIFO where a call could wait for ever.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vellum::test {

struct IsolatedRun {
    bool finished = false;             // the body returned (no crash, no timeout)
    bool timedOut = false;
    std::string report;                // what the body returned, or why it did not
    long long peakResidentBytes = -1;  // -1 where the platform cannot tell
    double seconds = 0;
};

// Runs `body` in a child process where the platform has them (the peak resident
// size is the child's own), else in this process. A child still running after
// `timeoutSeconds` is killed.
IsolatedRun runIsolated(const std::function<std::string()>& body, int timeoutSeconds);

// A TCP listener on 127.0.0.1, on a port the system chooses, that accepts and
// counts every connection until it is destroyed.
class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    bool listening() const;
    int port() const;
    int connections() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Reports whether anyone opened or read the file at `path` after the watch began.
class FileWatch {
public:
    explicit FileWatch(const std::string& path);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;
    bool available() const;  // false where the platform cannot tell
    bool touched();

private:
    int handle_ = -1;
};

// Makes a FIFO (a named pipe no one writes to) at `path`; false where the platform
// has none in its file system.
bool makeFifo(const std::string& path);

}  // namespace vellum::test
