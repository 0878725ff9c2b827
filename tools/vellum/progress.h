// The progress bar on standard error, fed by the plug-in's progress callback, and
// the user's interrupt (Ctrl+C), which the callback passes on to the plug-in as an
// abort so that it removes a half-written file or leaves a book as it was.
#pragma once

#include "plugin.h"
#include "plugin/wcx.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vellum::tool {

class Progress {
public:
    // The one display the callback feeds (the callback carries no context).
    static Progress& instance();
    // The callbacks handed to the plug-in (one per interface): count the bytes, redraw
    // now and then, and answer 0 (abort) once the user has interrupted.
    static int WCX_CALL callback(char* fileName, int size);
    static int WCX_CALL callbackW(WCHAR_WCX* fileName, int size);
    static ProgressCallbacks callbacks() { return {&callback, &callbackW}; }

    // Starts a run of `total` items (0 when unknown); `visible` draws the bar.
    void start(const std::string& verb, int total, bool visible);
    // The next item begins (extraction: the host knows which entry it processes).
    void beginItem(const std::string& name, std::uint64_t size);
    // Items whose progress comes with their file name (packing): the callback moves
    // to the item whose `path` it is told.
    void expectItems(std::vector<std::string> paths, std::vector<std::string> names,
                     std::vector<std::uint64_t> sizes);
    // Clears the line for a message; the bar comes back at its next redraw.
    void clearLine();
    // Ends the run and clears the line.
    void finish();

private:
    // `name` gives the UTF-8 path of the file reported, asked for only when needed.
    template <typename Name>
    void add(const Name& name, int size);
    void draw();

    bool visible_ = false;
    std::string verb_;
    int total_ = 0;
    int item_ = 0;  // 1-based number of the current item, 0 before the first
    std::string name_;
    std::uint64_t size_ = 0;
    std::uint64_t done_ = 0;
    std::uint32_t calls_ = 0;
    std::uint64_t sinceClock_ = 0;  // bytes reported since the clock was last read
    std::int64_t lastDraw_ = 0;
    bool drawn_ = false;
    // Packing: the items, in the order the plug-in reads them.
    std::vector<std::string> paths_, names_;
    std::vector<std::uint64_t> sizes_;
};

// While alive, the first Ctrl+C asks the plug-in to stop at its next progress call;
// a second one ends the process as usual.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// The user has interrupted the run.
bool interrupted();

}  // namespace vellum::tool
