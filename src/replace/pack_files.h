// The host's packing run: files whose names match binary ids replace those
// elements' content, the run is noted in the book's history, and the book is saved.
#pragma once

namespace vellum {

// The result code of PackFiles. The book on disk changes only when the whole new
// book has been written: it is saved beside the book and then put in its place in
// one step, so any failure leaves the book byte for byte as it was.
int packFiles(const char* packedFile, const char* subPath, const char* srcPath, const char* addList, int flags);

}  // namespace vellum
