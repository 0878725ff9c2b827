#include "plugin/host_text.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vellum::plugin {

void NarrowText::copyName(char* field, std::string_view utf8) {
    std::string name = text::toCodePageCut(utf8, kNames.limit);
    std::memcpy(field, name.data(), name.size());
    field[name.size()] = '\0';
}

void WideText::copyName(WCHAR_WCX (&field)[1024], std::string_view utf8) {
    std::u16string wide = text::utf16FromUtf8(utf8);
    std::u16string_view name = text::cutUtf16(wide, kNames.limit);
    std::copy(name.begin(), name.end(), field);
    field[name.size()] = u'\0';
}

namespace {

template <typename Text>
using HostView = std::basic_string_view<typename Text::Char>;
template <typename Text>
using HostString = std::basic_string<typename Text::Char>;

template <typename Text>
std::string corePath(HostView<Text> text) {
    return Text::exact(text) ? Text::toUtf8(text) : std::string();
}

}  // namespace

template <typename Text>
std::string toCore(const typename Text::Char* text) {
    return text == nullptr ? std::string() : corePath<Text>(HostView<Text>(text));
}

template <typename Text>
std::optional<std::string> targetPath(const typename Text::Char* destPath, const typename Text::Char* destName) {
    if (destName == nullptr) return std::nullopt;
    HostString<Text> target;
    if (destPath != nullptr) {
        target = destPath;
        target += static_cast<typename Text::Char>(platform::pathSeparator());
    }
    target += destName;
    if (target.size() > Text::kMaxPath || !Text::exact(target)) return std::nullopt;
    return Text::toUtf8(target);
}

template <typename Text>
std::vector<PackName> packNames(const typename Text::Char* srcPath, const typename Text::Char* addList) {
    // A backslash separates folders in the host's names everywhere; on Linux "/"
    // does too. They are looked for in UTF-8, where no byte of another character
    // can be mistaken for one (a double-byte code page's second bytes can).
    const std::string separators = {'\\', platform::pathSeparator()};
    std::vector<PackName> names;
    for (const typename Text::Char* at = addList; *at != 0; at += HostView<Text>(at).size() + 1) {
        HostView<Text> name(at);
        PackName item;
        std::string utf8 = Text::toUtf8(name);
        item.refused = utf8.find_first_of(separators) != std::string::npos;
        // A name that UTF-8 cannot hold stays empty, and matches nothing.
        if (Text::exact(name)) item.name = std::move(utf8);
        HostString<Text> source = HostString<Text>(srcPath) + HostString<Text>(name);
        item.pathTooLong = source.size() > Text::kMaxPath;
        if (!item.pathTooLong) item.sourcePath = corePath<Text>(source);
        names.push_back(std::move(item));
    }
    return names;
}

template std::string toCore<NarrowText>(const char*);
template std::string toCore<WideText>(const WCHAR_WCX*);
template std::optional<std::string> targetPath<NarrowText>(const char*, const char*);
template std::optional<std::string> targetPath<WideText>(const WCHAR_WCX*, const WCHAR_WCX*);
template std::vector<PackName> packNames<NarrowText>(const char*, const char*);
template std::vector<PackName> packNames<WideText>(const WCHAR_WCX*, const WCHAR_WCX*);

void appendIndexLine(std::string& indexText, const EntryDescription& entry) {
    std::string id = text::toCodePageCut(entry.id, NarrowText::kNames.limit);
    char size[16];
    std::snprintf(size, sizeof size, "%d", static_cast<int>(std::min<std::int64_t>(entry.size, INT32_MAX)));
    indexText += id;
    indexText.append(id.size() < 13 ? 13 - id.size() : 1, ' ');
    indexText += size;
    indexText += ' ';
    indexText += text::toCodePageCut(entry.contentType, NarrowText::kNames.limit);
    indexText += "\r\n";
}

}  // namespace vellum::plugin
