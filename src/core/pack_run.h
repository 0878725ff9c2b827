// The packing run: files whose names match binary ids replace those elements'
// content, the run is noted in the book's history, and the book is saved.
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
    bool refused = false;    // a name the host's interface does not allow here (a sub-path)
    bool pathTooLong = false;  // the source path is longer than the host's interface joins
};

// A packing run as the host asked for it.
struct PackRequest {
    std::string book;
    bool subPath = false;  // the host named a folder inside the book
    std::vector<PackName> names;
    bool moveFiles = false;  // delete the source files put into the book
    // The name under which the calling interface shows an id to the host; a file
    // replaces the first accepted element whose id it names so, regardless of case.
    std::string (*shownName)(std::string_view id) = nullptr;
    ProgressSink* progress = nullptr;
};

// ok when the book was saved, else openFailed (the book, or a source file),
// notSupported (a sub-path, a refused name or path, a file too large), noFiles,
// readFailed, writeFailed or aborted. The book on disk changes only when the whole
// new book has been written: it is saved beside the book and then put in its place
// in one step, so any failure leaves the book byte for byte as it was.
Status packFiles(const PackRequest& request);

}  // namespace vellum
