// The commands of the vellum host. Each drives the plug-in through its exports,
// writes results to standard output and messages to standard error, and answers an
// exit status.
#pragma once

#include "plugin.h"

#include <string>
#include <vector>

namespace vellum::tool {

// Exit statuses, documented in --help and the README.
enum ExitStatus {
    kExitOk = 0,           // everything asked was done
    kExitPartly = 1,       // an entry failed, a name matched nothing, or a file could not be written or read
    kExitUsage = 2,        // bad arguments
    kExitBadBook = 3,      // the book cannot be opened: missing, unreadable, not XML, not a FictionBook book
    kExitNotChanged = 4,   // the book could not be changed (it is left as it was)
    kExitNoPlugin = 5,     // the plug-in cannot be loaded, or the thread cannot be prepared for it
    kExitInterrupted = 130 // interrupted by the user
};

struct Options {
    std::string book;
    bool quiet = false;     // no progress bar, no closing summary on standard error
    bool showProgress = false;  // set from `quiet` and whether standard error is a terminal
};

int listCommand(const PluginExports& api, const Options& options, bool json);
int testCommand(const PluginExports& api, const Options& options);
int extractCommand(const PluginExports& api, const Options& options, const std::string& folder,
                   const std::vector<std::string>& names, bool withIndex);
int catCommand(const PluginExports& api, const Options& options, const std::string& name);
int replaceCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& files,
                   bool move);

// The file name an entry is written under: separators, control characters and the
// names "." and ".." cannot leave the output folder or name another folder, so they
// are replaced by "_", what the system does not accept in a name is changed too, and
// a name too long for a file system is cut to 255 bytes.
std::string safeFileName(const std::string& entryName);

}  // namespace vellum::tool
