// What both fuzz targets share: a private scratch folder for the process and a
// check that stops the run loudly when an invariant of the library breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::fuzz {

// The process's scratch folder (created on first use, removed at exit), and a path in it.
const std::string& scratchDir();
std::string scratchFile(const char* name);

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
// The size of a file, or -1 when it does not exist.
long long sizeOf(const std::string& path);
void removePath(const std::string& path);

// Aborts with `what` printed, so libFuzzer records the input as a crash.
[[noreturn]] void fail(const char* what);
inline void require(bool condition, const char* what) {
    if (!condition) fail(what);
}

}  // namespace vellum::fuzz
