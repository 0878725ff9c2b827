#include "support/isolation.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vellum::test {

IsolatedRun runIsolated(const std::function<std::string()>& body, int timeoutSeconds) {
    IsolatedRun run;
    int fds[2];
    if (::pipe(fds) != 0) {
        run.report = "no pipe";
        return run;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::string report = body();
        const char* p = report.data();
        std::size_t left = report.size();
        while (left > 0) {
            ssize_t n = ::write(fds[1], p, left);
            if (n <= 0) ::_exit(3);
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);  // no destructors or exit handlers of the test process run twice
    }
    ::close(fds[1]);
    if (child < 0) {
        ::close(fds[0]);
        run.report = "no child process";
        return run;
    }
    auto deadline = start + std::chrono::seconds(timeoutSeconds);
    std::string received;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd wait{fds[0], POLLIN, 0};
        int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[4096];
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakResidentBytes = static_cast<long long>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
    if (run.timedOut) {
        run.report = "timed out after " + std::to_string(timeoutSeconds) + " s";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.finished = true;
        run.report = received;
    } else if (WIFSIGNALED(status)) {
        run.report = "child killed by signal " + std::to_string(WTERMSIG(status));
    } else {
        run.report = "child exited with " + std::to_string(WEXITSTATUS(status));
    }
    return run;
}

struct LoopbackListener::State {
    int socket = -1;
    int port = 0;
    std::atomic<int> connections{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::thread acceptor;
};

LoopbackListener::LoopbackListener() : state_(std::make_unique<State>()) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        return;
    }
    state_->socket = s;
    state_->port = ntohs(address.sin_port);
    State* state = state_.get();
    state_->acceptor = std::thread([state] {
        state->started = true;
        while (!state->stop.load()) {
            pollfd wait{state->socket, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0) continue;
            int client = ::accept(state->socket, nullptr, nullptr);
            if (client >= 0) {
                ++state->connections;
                ::close(client);
            }
        }
    });
    // A test forks right after this (runIsolated): a thread still starting may hold
    // a lock of the allocator (AddressSanitizer's), which the child would wait on
    // for ever.
    while (!state->started.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackListener::~LoopbackListener() {
    state_->stop = true;
    if (state_->acceptor.joinable()) state_->acceptor.join();
    if (state_->socket >= 0) ::close(state_->socket);
}

bool LoopbackListener::listening() const { return state_->socket >= 0; }
int LoopbackListener::port() const { return state_->port; }
int LoopbackListener::connections() const { return state_->connections.load(); }

FileWatch::FileWatch(const std::string& path) {
    handle_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (handle_ >= 0 && ::inotify_add_watch(handle_, path.c_str(), IN_OPEN | IN_ACCESS) < 0) {
        ::close(handle_);
        handle_ = -1;
    }
}

FileWatch::~FileWatch() {
    if (handle_ >= 0) ::close(handle_);
}

bool FileWatch::available() const { return handle_ >= 0; }

bool FileWatch::touched() {
    if (handle_ < 0) return false;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = ::read(handle_, buffer, sizeof buffer);
    return n > 0;
}

bool makeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0644) == 0; }

}  // namespace vellum::test
