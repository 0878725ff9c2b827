// Putting a file into a binary element as standard padded Base64, one unbroken line.
#pragma once

#include "book/document.h"
#include "core/progress.h"
#include "core/status.h"

#include <cstdint>
#include <string>

namespace vellum {

// Files this large or larger are refused: their Base64 text would pass the 32-bit
// counts that hosts and books are sized for.
inline constexpr std::uint64_t kMaxReplacementSize = std::uint64_t(1) << 29;

// Reads the file at `sourcePath` and makes its encoding the whole text of `element`,
// reporting each block read and encoded (kProgressBlock bytes, the last one
// shorter; nothing for an empty file). ok, openFailed (also for what is not a
// regular file), readFailed, writeFailed (the document refused the text), aborted,
// or notSupported for a file of kMaxReplacementSize bytes or more. On any failure
// the element keeps its text.
Status encodeFileIntoBinary(const Node& element, const std::string& sourcePath, ProgressSink* progress);

}  // namespace vellum
