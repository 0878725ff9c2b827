// Putting a file into a binary element as standard padded Base64, one unbroken line.
#pragma once

#include "book/document.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum {

// Files this large or larger are refused: their Base64 text would pass the 32-bit
// counts that hosts and books are sized for.
inline constexpr std::uint64_t kMaxReplacementSize = std::uint64_t(1) << 29;

// The length of the padded encoding of `size` bytes: 4 * ceil(size / 3).
constexpr std::size_t base64EncodedLength(std::size_t size) { return (size + 2) / 3 * 4; }

// Encodes `size` bytes into `out`, which must hold base64EncodedLength(size) characters.
void encodeBase64(const unsigned char* data, std::size_t size, char* out);

// Reads the file at `sourcePath` and makes its encoding the whole text of `element`,
// reporting progress through packProgressCallback (3 per group, then the tail).
// 0, E_EOPEN, E_EREAD, E_EWRITE (the document refused the text), E_EABORTED, or
// E_NOT_SUPPORTED for a file of kMaxReplacementSize bytes or more. On any failure
// the element keeps its text.
int encodeFileIntoBinary(const Node& element, const char* sourcePath);

}  // namespace vellum
