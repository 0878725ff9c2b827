// The one type through which a book's new bytes are handed on: the document's
// serialiser and the splice write through it, and the save gives it to them.
#pragma once

#include <cstddef>
#include <functional>

namespace vellum::platform {

// Receives the next `size` bytes of a book, in order; false stops the writing.
using BookWriter = std::function<bool(const void* data, std::size_t size)>;

}  // namespace vellum::platform
