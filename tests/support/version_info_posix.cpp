#include "support/version_info.h"

namespace vellum::test {

bool loadVersionResource(const std::string&, VersionResource&, std::string& why) {
    why = "the native target is an ELF shared object, which carries no version resource";
    return false;
}

std::optional<std::string> versionString(const VersionResource&, const std::string&, const std::string&) {
    return std::nullopt;
}

bool fixedVersions(const VersionResource&, std::array<unsigned, 4>&, std::array<unsigned, 4>&) { return false; }

}  // namespace vellum::test
