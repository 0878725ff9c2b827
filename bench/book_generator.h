// Synthetic books for the benchmarks: `paragraphs` paragraphs of text and `count`
// pictures of `size` random bytes each, Base64 in lines of 76 characters as book
// editors write them.
#pragma once

#include <cstddef>
#include <string>

namespace vellum::bench {

void writeSyntheticBook(const std::string& path, std::size_t count, std::size_t size, std::size_t paragraphs = 200,
                        unsigned seed = 1);

}  // namespace vellum::bench
