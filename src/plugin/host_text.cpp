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

std::string NarrowText::shownName(std::string_view name) {
    return platform::fromHostText(boundName(platform::toHostText(name)));
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
    // A backslash separates folders in the host's names everywhere; on Linux "/"
    // does too. They are looked for in UTF-8, where no byte of another character
    // can be mistaken for one (a double-byte code page's second bytes can).
    const std::string separators = {'\\', platform::pathSeparator()};
    std::vector<PackName> names;
    for (const char* name = addList; *name != '\0'; name += std::strlen(name) + 1) {
        PackName item;
        item.name = toCore(name);
        // The host lists a folder as its name and a separator: a book has no
        // folders, and the folder itself holds nothing to put in.
        if (!item.name.empty() && separators.find(item.name.back()) != std::string::npos) continue;
        // A separator inside a name names a file below a folder, which a book has not.
        item.refused = item.name.find_first_of(separators) != std::string::npos;
        std::string source = std::string(srcPath) + name;
        item.pathTooLong = source.size() > kMaxPathLength;
        if (!item.pathTooLong) item.sourcePath = toCore(source.c_str());
        names.push_back(std::move(item));
    }
    return names;
}

}  // namespace vellum::plugin
