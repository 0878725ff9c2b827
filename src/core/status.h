// What an operation of the core answers. The values are the host's result codes, so
// the exports pass a status on as it is; the plug-in layer checks that they agree.
#pragma once

namespace vellum {

enum class Status : int {
    ok = 0,
    endArchive = 10,     // no entry is left
    noMemory = 11,
    badData = 12,        // the entry cannot be reached, or the operation does not apply to it
    badArchive = 13,     // the book has not exactly one FictionBook root
    openFailed = 15,     // the book does not load; a file cannot be opened or created
    // The host's E_ECLOSE ("error closing file"): what hosts are told when the target
    // of an extracted element cannot be created.
    closeFailed = 17,
    readFailed = 18,     // a replacement file cannot be read
    writeFailed = 19,    // a file or the book cannot be written
    aborted = 21,        // the host's progress callback asked to stop
    noFiles = 22,        // the book's binaries cannot be selected, or no file given is an entry
    notSupported = 24,   // a name or a size the library does not take
};

}  // namespace vellum
