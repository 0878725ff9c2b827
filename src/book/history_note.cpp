#include "book/history_note.h"

#include "vellum_version.h"

#include <cstdio>

namespace vellum {

std::int32_t appendChildElement(const BookDocument& document, const Node* parent, const char* name,
                                const char* text, Node* appended) {
    if (parent == nullptr || !*parent) return kStatusInvalidArg;
    if (name == nullptr) return kStatusPointer;
    if (!appendNewElement(document, *parent, name, text != nullptr ? text : "", appended)) return kStatusFail;
    return 0;
}

std::string formatHistoryNote(const platform::UtcTime& now, std::int32_t replacedCount) {
    char note[256];
    std::snprintf(note, sizeof note, "v++++1 %d.%02d.%02d %d:%d:%d %d items replaced(vellum %s %s) ", now.year,
                  now.month, now.day, now.hour, now.minute, now.second, replacedCount, VELLUM_BUILD_DATE,
                  VELLUM_BUILD_TIME);
    return note;
}

std::int32_t appendHistoryNote(const BookDocument& document, std::int32_t replacedCount) {
    static const char* const kPatterns[] = {"FictionBook", "FictionBook/description",
                                            "FictionBook/description/document-info",
                                            "FictionBook/description/document-info/history"};
    static const char* const kNames[] = {nullptr, "description", "document-info", "history"};
    // Each level is looked up on the whole document; a missing one is created under
    // the level before it, except the root, which is never made.
    Node level;
    for (int k = 0; k < 4; ++k) {
        NodeList list;
        std::int32_t length = 0;
        if (!selectNodes(document, kPatterns[k], list) || !nodeListLength(list, length)) return 0;
        Node found;
        if (length >= 1) {
            if (!nodeListItem(list, 0, found)) return 0;
        } else if (k > 0 && level) {
            if (appendChildElement(document, &level, kNames[k], nullptr, &found) != 0) return 0;
        }
        level = std::move(found);
    }
    if (!level) return 0;
    std::string note = formatHistoryNote(platform::utcNow(), replacedCount);
    return appendNewElement(document, level, "p", note, nullptr) ? 1 : 0;
}

}  // namespace vellum
