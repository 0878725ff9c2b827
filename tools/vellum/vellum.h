// What the commands of the vellum host share: their options and exit statuses.
// Each command drives the plug-in through its exports, writes results to standard
// output and messages to standard error, and answers an exit status.
#pragma once

#include <string>

namespace vellum::tool {

// Exit statuses, documented in --help and the README.
enum ExitStatus {
    kExitOk = 0,           // everything asked was done
    kExitPartly = 1,       // an entry failed, a name matched nothing, or a file could not be written or read
    kExitUsage = 2,        // bad arguments, or a file to put into the book that is the book itself
    kExitBadBook = 3,      // the book cannot be opened: missing, unreadable, not XML, not a FictionBook book
    kExitNotChanged = 4,   // the book could not be changed (it is left as it was)
    kExitNoPlugin = 5,     // the plug-in cannot be loaded, or the thread cannot be prepared for it
    kExitInterrupted = 130 // interrupted by the user
};

struct Options {
    std::string book;
    std::string plugin;         // the plug-in module, never written over
    bool quiet = false;         // no progress bar, no closing summary on standard error
    bool showProgress = false;  // set from `quiet` and whether standard error is a terminal
};

// The generated index entry every listing ends with.
inline constexpr char kIndexName[] = "files.bbs";

}  // namespace vellum::tool
