// The version resource of a built module, read as Windows reads it
// (GetFileVersionInfoA and VerQueryValueA). The native target's shared object has
// none: there loading reports why and the queries find nothing.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vellum::test {

struct VersionResource {
    std::vector<unsigned char> block;  // the whole resource, as GetFileVersionInfoA returns it
};

// Loads the version resource of the module at `path`. False, with the reason in
// `why`, when there is none or it cannot be read.
bool loadVersionResource(const std::string& path, VersionResource& out, std::string& why);

// The string `name` of the string table `table` (language and code page in hex,
// e.g. "040904e4"), up to its terminating zero; nothing when it is missing.
std::optional<std::string> versionString(const VersionResource& resource, const std::string& table,
                                         const std::string& name);

// The file and product versions of the fixed part, most significant part first.
// False when the fixed part is missing or malformed.
bool fixedVersions(const VersionResource& resource, std::array<unsigned, 4>& file, std::array<unsigned, 4>& product);

}  // namespace vellum::test
