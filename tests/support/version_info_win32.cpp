#include "support/version_info.h"

#include <windows.h>

namespace vellum::test {

bool loadVersionResource(const std::string& path, VersionResource& out, std::string& why) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) {
        why = "GetFileVersionInfoSizeA found no version resource in " + path + " (error " +
              std::to_string(GetLastError()) + ")";
        return false;
    }
    out.block.assign(size, 0);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, out.block.data())) {
        why = "GetFileVersionInfoA failed on " + path;
        return false;
    }
    return true;
}

std::optional<std::string> versionString(const VersionResource& resource, const std::string& table,
                                         const std::string& name) {
    std::string query = "\\StringFileInfo\\" + table + "\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (resource.block.empty() ||
        !VerQueryValueA(resource.block.data(), query.c_str(), &value, &length) || value == nullptr)
        return std::nullopt;
    const char* text = static_cast<const char*>(value);
    std::size_t n = 0;
    while (n < length && text[n] != '\0') ++n;
    return std::string(text, n);
}

bool fixedVersions(const VersionResource& resource, std::array<unsigned, 4>& file, std::array<unsigned, 4>& product) {
    void* value = nullptr;
    UINT length = 0;
    if (resource.block.empty() || !VerQueryValueA(resource.block.data(), "\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != 0xFEEF04BD) return false;
    file = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
            LOWORD(fixed->dwFileVersionLS)};
    product = {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
               HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
    return true;
}

}  // namespace vellum::test
