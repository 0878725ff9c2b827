// The packing run: files whose names match binary ids replace those elements'
// content, the run is noted in the book's history, and the book is saved. A run
// that puts no file in leaves the book alone.
#pragma once

#include "core/progress.h"
#include "core/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace vellum {

// One name of the host's list, with the file it stands for.
struct PackName {
    std::string name;        // relative to the host's source folder
    std::string sourcePath;  // the source folder and the name
    bool refused = false;    // a name the host's interface does not allow here (a file below a folder)
    bool pathTooLong = false;  // the source path is longer than the host's interface joins
};

// A packing run as the host asked for it.
struct PackRequest {
    std::string book;
    bool subPath = false;  // the host named a folder inside the book
    std::vector<PackName> names;
    bool moveFiles = false;  // delete the source files put into the book
    // The name under which the calling interface shows an entry's safe name to the
    // host. A file replaces the first accepted element whose id, or whose name as
    // shown, equals the file's name regardless of case.
    std::string (*shownName)(std::string_view name) = nullptr;
    ProgressSink* progress = nullptr;
};

// ok when the book was saved with the files put in, or when no file was put in (the
// book is then not written at all; "files.bbs" and folders put nothing in), else
// openFailed (the book, or a source file; also what is not a regular file),
// notSupported (a sub-path, a refused name or path, a file too large), noFiles,
// readFailed, writeFailed (also when another run holds the book too long) or
// aborted. One run at a time writes a book. The book on disk changes only when the
// whole new book has been made, and any failure leaves it byte for byte as it was.
Status packFiles(const PackRequest& request);

}  // namespace vellum
