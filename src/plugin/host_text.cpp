#include "plugin/host_text.h"

#include "core/entry_names.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace vellum::plugin {

std::string NarrowText::toCore(const char* text) {
    return text == nullptr ? std::string() : platform::fromHostText(text);
}

void NarrowText::copyName(char* field, std::string_view utf8) {
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

namespace {

// The longest path, in UTF-16 units, that Windows names.
constexpr std::size_t kMaxWidePath = 32767;
// The longest name a 1024-unit field holds with its terminating zero.
constexpr std::size_t kMaxWideName = 1023;

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool wellFormed(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1]))
            ++i;
        else if (isHighSurrogate(text[i]) || isLowSurrogate(text[i]))
            return false;
    }
    return true;
}

std::string coreFromWide(std::u16string_view text) {
    return wellFormed(text) ? platform::utf8FromUtf16(text) : std::string();
}

std::u16string_view wideView(const WCHAR_WCX* text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// `name` cut to `limit` units, one fewer where the cut would split a surrogate pair.
std::u16string_view boundWideName(std::u16string_view name) {
    if (name.size() <= kMaxWideName) return name;
    std::size_t keep = kMaxWideName;
    if (isHighSurrogate(name[keep - 1]) && isLowSurrogate(name[keep])) --keep;
    return name.substr(0, keep);
}

}  // namespace

std::string WideText::toCore(const WCHAR_WCX* text) { return coreFromWide(wideView(text)); }

void WideText::copyName(WCHAR_WCX (&field)[1024], std::string_view utf8) {
    std::u16string wide = platform::utf16FromUtf8(utf8);
    std::u16string_view name = boundWideName(wide);
    std::copy(name.begin(), name.end(), field);
    field[name.size()] = u'\0';
}

std::string WideText::shownName(std::string_view id) {
    return platform::utf8FromUtf16(boundWideName(platform::utf16FromUtf8(id)));
}

std::optional<std::string> WideText::targetPath(const WCHAR_WCX* destPath, const WCHAR_WCX* destName) {
    if (destName == nullptr) return std::nullopt;
    std::u16string target;
    if (destPath != nullptr) {
        target = destPath;
        target += static_cast<char16_t>(platform::pathSeparator());
    }
    target += destName;
    if (target.size() > kMaxWidePath || !wellFormed(target)) return std::nullopt;
    return platform::utf8FromUtf16(target);
}

std::vector<PackName> WideText::packNames(const WCHAR_WCX* srcPath, const WCHAR_WCX* addList) {
    std::vector<PackName> names;
    for (const WCHAR_WCX* name = addList; *name != u'\0';) {
        std::u16string_view view(name);
        PackName item;
        item.name = coreFromWide(view);
        item.refused = view.find(u'\\') != std::u16string_view::npos;
        std::u16string source = std::u16string(wideView(srcPath)) + std::u16string(view);
        item.pathTooLong = source.size() > kMaxWidePath;
        if (!item.pathTooLong) item.sourcePath = coreFromWide(source);
        names.push_back(std::move(item));
        name += view.size() + 1;
    }
    return names;
}

}  // namespace vellum::plugin
