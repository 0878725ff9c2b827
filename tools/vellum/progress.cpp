#include "progress.h"

#include "host.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace vellum::tool {

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void onInterrupt(int) {
    interruptFlag = 1;
    std::signal(SIGINT, SIG_DFL);
}

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The plug-in may report every few bytes or once per large block: the clock is read
// once so many reports or so many bytes have come, and the line redrawn at most
// every 100 ms.
constexpr std::uint32_t kCallsPerClockRead = 4096;
constexpr std::uint64_t kBytesPerClockRead = 64 * 1024;
constexpr std::int64_t kRedrawMs = 100;

}  // namespace

bool interrupted() { return interruptFlag != 0; }

InterruptScope::InterruptScope() { std::signal(SIGINT, onInterrupt); }
InterruptScope::~InterruptScope() { std::signal(SIGINT, SIG_DFL); }

Progress& Progress::instance() {
    static Progress progress;
    return progress;
}

int WCX_CALL Progress::callback(char* fileName, int size) {
    instance().add([&] { return fileName == nullptr ? std::string() : text::fromCodePage(fileName); }, size);
    return interruptFlag != 0 ? 0 : 1;
}

int WCX_CALL Progress::callbackW(WCHAR_WCX* fileName, int size) {
    instance().add([&] { return fileName == nullptr ? std::string() : text::utf8FromUtf16(fileName); }, size);
    return interruptFlag != 0 ? 0 : 1;
}

void Progress::start(const std::string& verb, int total, bool visible) {
    visible_ = visible;
    verb_ = verb;
    total_ = total;
    item_ = 0;
    name_.clear();
    size_ = done_ = 0;
    calls_ = 0;
    sinceClock_ = 0;
    lastDraw_ = 0;
    drawn_ = false;
    paths_.clear();
    names_.clear();
    sizes_.clear();
}

void Progress::beginItem(const std::string& name, std::uint64_t size) {
    ++item_;
    name_ = name;
    size_ = size;
    done_ = 0;
    if (visible_ && nowMs() - lastDraw_ >= kRedrawMs) draw();
}

void Progress::expectItems(std::vector<std::string> paths, std::vector<std::string> names,
                           std::vector<std::uint64_t> sizes) {
    paths_ = std::move(paths);
    names_ = std::move(names);
    sizes_ = std::move(sizes);
    total_ = static_cast<int>(paths_.size());
}

template <typename Name>
void Progress::add(const Name& name, int size) {
    if (!visible_) return;
    if (!paths_.empty() && (item_ == 0 || done_ >= size_)) {
        // The reports of one file add up to its size; at that point the next report
        // names the next file, found by its path.
        std::string fileName = name();
        std::size_t from = item_ == 0 ? 0 : static_cast<std::size_t>(item_ - 1);
        for (std::size_t i = from; i < paths_.size(); ++i) {
            if (paths_[i] == fileName) {
                if (static_cast<int>(i) != item_ - 1) {
                    item_ = static_cast<int>(i);
                    beginItem(names_[i], sizes_[i]);
                }
                break;
            }
        }
    }
    if (size > 0) {
        done_ += static_cast<std::uint64_t>(size);
        sinceClock_ += static_cast<std::uint64_t>(size);
    }
    if (++calls_ % kCallsPerClockRead != 0 && sinceClock_ < kBytesPerClockRead) return;
    sinceClock_ = 0;
    if (nowMs() - lastDraw_ >= kRedrawMs) draw();
}

void Progress::draw() {
    lastDraw_ = nowMs();
    int width = std::max(20, host::terminalWidth() - 1);
    char counter[48];
    if (total_ > 0)
        std::snprintf(counter, sizeof counter, "%d/%d", item_, total_);
    else
        std::snprintf(counter, sizeof counter, "%d", item_);
    int percent = size_ == 0 ? 100 : static_cast<int>(std::min<std::uint64_t>(100, done_ * 100 / size_));

    // "extracting 3/12 [#####.....]  45% cover.png", the name cut to what fits.
    constexpr int kBar = 20;
    int filled = percent * kBar / 100;
    std::string line = verb_ + " " + counter + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBar - filled), '.') + "] ";
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3d%% ", percent);
    line += pct;
    int room = width - static_cast<int>(line.size());
    if (room > 3) {
        if (static_cast<int>(name_.size()) <= room) {
            line += name_;
        } else {
            line += std::string(text::cutUtf8(name_, static_cast<std::size_t>(room - 3))) + "...";
        }
    }
    if (static_cast<int>(line.size()) > width) line.resize(static_cast<std::size_t>(width));
    line.append(static_cast<std::size_t>(width) - line.size(), ' ');
    line.insert(line.begin(), '\r');
    line.push_back('\r');
    host::writeText(stderr, line);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::clearLine() {
    if (visible_ && drawn_) {
        int width = std::max(20, host::terminalWidth() - 1);
        std::string blank(static_cast<std::size_t>(width) + 2, ' ');
        blank.front() = blank.back() = '\r';
        host::writeText(stderr, blank);
        std::fflush(stderr);
    }
    drawn_ = false;
}

void Progress::finish() {
    clearLine();
    visible_ = false;
}

}  // namespace vellum::tool
