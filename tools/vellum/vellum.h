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

// The options of the command line that the commands read.
struct Options {
    std::string book;
    std::string plugin;         // the plug-in module, never written over
    bool quiet = false;         // no progress bar, no closing summary on standard error
    bool showProgress = false;  // set from `quiet` and whether standard error is a terminal
    bool json = false;          // list: UTF-8 JSON
    std::string folder;         // extract: where to, the current folder when empty
    bool noIndex = false;       // extract: all entries but files.bbs
    bool overwrite = false;     // extract: write over existing files
    bool move = false;          // replace: delete each file once it is in the book
};

// The generated index entry every listing ends with.
inline constexpr char kIndexName[] = "files.bbs";

}  // namespace vellum::tool
