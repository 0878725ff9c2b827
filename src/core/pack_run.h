// The packing run: files whose names match binary ids replace those elements'
// content, the run is noted in the book's history, and the book is saved. A run
// that puts no file in leaves the book alone.
#pragma once

#include "core/progress.h"
#include "core/status.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vellum {

// One name of the host's list, with the file it stands for.
struct PackName {
    std::string name;        // relative to the host's source folder
    std::string sourcePath;  // the source folder and the name
    bool refused = false;    // a folder, or a file below a folder: a book has none
    bool pathTooLong = false;  // the source path is longer than the host's interface joins
};

// How the records of the calling interface hold the names a listing shows: cut to
// whole characters within `limit` bytes of the host's 8-bit text, or within `limit`
// UTF-16 units.
struct NameBound {
    enum class Unit { codePageByte, utf16Unit };
    Unit unit;
    std::size_t limit;
};

// A packing run as the host asked for it.
struct PackRequest {
    std::string book;
    bool subPath = false;  // the host named a folder inside the book
    std::vector<PackName> names;
    bool moveFiles = false;  // delete the source files put into the book
    // A file replaces the first accepted element whose id, or whose name as the
    // calling interface lists it (safe, and cut so), equals the file's name
    // regardless of case.
    NameBound listedNames;
    ProgressSink* progress = nullptr;
};

// ok when the book was saved with the files put in, or when no file was to be put in
// (an empty list, only "files.bbs"): the book is then not written at all. Else
// openFailed (the book, or a source file; also what is not a regular file, and a
// book left in doubt by a save that did not end: see platform::settleBook),
// notSupported (a sub-path, a refused name or path, a file too large), noFiles (the
// binaries cannot be selected, or files were given and none names an entry),
// readFailed, writeFailed (also when another run holds the book too long) or
// aborted. Names that match no entry are passed over when another file is put in.
// One run at a time writes a book. The book on disk changes only when the whole new
// book has been made, and any failure leaves it byte for byte as it was.
Status packFiles(const PackRequest& request);

}  // namespace vellum
