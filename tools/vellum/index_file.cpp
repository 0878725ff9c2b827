#include "index_file.h"

#include "text/system_text.h"

#include <string_view>

namespace vellum::tool {

namespace {

// The longest name or content type, in bytes of the 8-bit text, that the plug-in
// writes into a line of files.bbs.
constexpr std::size_t kIndexNameLimit = 258;

// Matches one index line's start at `pos`: the element's id, one or more spaces,
// the size, one space. Answers the position after it, or npos. The line keeps the
// id as the book has it, while the plug-in may show the entry's name with "_" in
// place of characters a file name cannot hold, and with "_" before a name that is
// empty, "." or "..": such a "_" matches any one byte of the id, or none at the start.
std::size_t matchLineStart(const std::string& text, std::size_t pos, const Entry& entry) {
    std::string size = std::to_string(entry.size) + " ";
    for (int skip = 0; skip < 2; ++skip) {
        std::string_view shown(entry.name);
        if (skip == 1) {
            if (shown.empty() || shown[0] != '_') break;
            shown.remove_prefix(1);
        }
        if (pos + shown.size() > text.size()) continue;
        bool same = true;
        for (std::size_t i = 0; same && i < shown.size(); ++i) same = text[pos + i] == shown[i] || shown[i] == '_';
        if (!same) continue;
        std::size_t at = pos + shown.size();
        std::size_t spaces = at;
        while (at < text.size() && text[at] == ' ') ++at;
        if (at == spaces || text.compare(at, size.size(), size) != 0) continue;
        return at + size.size();
    }
    return std::string::npos;
}

}  // namespace

std::vector<std::string> contentTypes(const std::vector<Entry>& listed, const std::string& index) {
    // Each name as its line holds it: in the plug-in's 8-bit text, cut between
    // characters to at most 258 bytes.
    std::vector<Entry> entries = listed;
    for (Entry& entry : entries) entry.name = text::toCodePageCut(entry.name, kIndexNameLimit);
    std::vector<std::string> types;
    std::size_t count = entries.empty() ? 0 : entries.size() - 1;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        pos = matchLineStart(index, pos, entries[i]);
        if (pos == std::string::npos) return {};
        std::size_t end = std::string::npos;
        if (i + 1 == count) {
            if (index.size() >= pos + 2 && index.compare(index.size() - 2, 2, "\r\n") == 0) end = index.size() - 2;
        } else {
            for (std::size_t at = index.find("\r\n", pos); at != std::string::npos; at = index.find("\r\n", at + 1)) {
                if (matchLineStart(index, at + 2, entries[i + 1]) != std::string::npos) {
                    end = at;
                    break;
                }
            }
        }
        if (end == std::string::npos) return {};
        types.push_back(text::fromCodePage(index.substr(pos, end - pos)));
        pos = end + 2;
    }
    return types;
}

}  // namespace vellum::tool
