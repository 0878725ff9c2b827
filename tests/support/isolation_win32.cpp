// Windows has no fork: the body runs in this process, unmeasured. The listener is
// the same loopback listener over Winsock; file opens cannot be watched.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/isolation.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace vellum::test {

IsolatedRun runIsolated(const std::function<std::string()>& body, int) {
    IsolatedRun run;
    auto start = std::chrono::steady_clock::now();
    run.report = body();
    run.finished = true;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

struct LoopbackListener::State {
    SOCKET socket = INVALID_SOCKET;
    int port = 0;
    bool started = false;
    std::atomic<int> connections{0};
    std::atomic<bool> stop{false};
    std::thread acceptor;
};

LoopbackListener::LoopbackListener() : state_(std::make_unique<State>()) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    state_->started = true;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return;
    }
    state_->socket = s;
    state_->port = ntohs(address.sin_port);
    State* state = state_.get();
    state_->acceptor = std::thread([state] {
        while (!state->stop.load()) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(state->socket, &readable);
            timeval wait{0, 50000};
            if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
            SOCKET client = ::accept(state->socket, nullptr, nullptr);
            if (client != INVALID_SOCKET) {
                ++state->connections;
                ::closesocket(client);
            }
        }
    });
}

LoopbackListener::~LoopbackListener() {
    state_->stop = true;
    if (state_->acceptor.joinable()) state_->acceptor.join();
    if (state_->socket != INVALID_SOCKET) ::closesocket(state_->socket);
    if (state_->started) WSACleanup();
}

bool LoopbackListener::listening() const { return state_->socket != INVALID_SOCKET; }
int LoopbackListener::port() const { return state_->port; }
int LoopbackListener::connections() const { return state_->connections.load(); }

FileWatch::FileWatch(const std::string&) {}
FileWatch::~FileWatch() {}
bool FileWatch::available() const { return false; }
bool FileWatch::touched() { return false; }

bool makeFifo(const std::string&) { return false; }

}  // namespace vellum::test
