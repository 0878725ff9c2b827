#include "plugin/host_text.h"

#include "core/entry_names.h"
#include "platform/platform.h"

#include <cstring>

namespace vellum::plugin {

std::string NarrowText::toCore(const char* text) {
    return text == nullptr ? std::string() : platform::fromHostText(text);
}

std::string NarrowText::fromCore(std::string_view utf8) { return platform::toHostText(utf8); }

void NarrowText::copyName(char (&field)[260], std::string_view utf8) {
    std::string host = platform::toHostText(utf8);
    std::string_view name = boundName(host);
    std::memcpy(field, name.data(), name.size());
    field[name.size()] = '\0';
}

std::string NarrowText::shownName(std::string_view id) {
    return platform::fromHostText(boundName(platform::toHostText(id)));
}

std::optional<std::string> NarrowText::targetPath(const char* destPath, const char* destName) {
    if (destName == nullptr) return std::nullopt;
    std::string target;
    if (destPath != nullptr) {
        target = destPath;
        target += platform::pathSeparator();
    }
    target += destName;
    if (target.size() > kMaxPathLength) return std::nullopt;
    return toCore(target.c_str());
}

std::vector<PackName> NarrowText::packNames(const char* srcPath, const char* addList) {
    std::vector<PackName> names;
    for (const char* name = addList; *name != '\0'; name += std::strlen(name) + 1) {
        PackName item;
        item.name = toCore(name);
        // A name with a backslash names a file below a folder, which a book has not.
        item.refused = std::strchr(name, '\\') != nullptr;
        std::string source = std::string(srcPath) + name;
        item.pathTooLong = source.size() > kMaxPathLength;
        if (!item.pathTooLong) item.sourcePath = toCore(source.c_str());
        names.push_back(std::move(item));
    }
    return names;
}

}  // namespace vellum::plugin
