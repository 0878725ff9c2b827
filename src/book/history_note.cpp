#include "book/history_note.h"

#include "book/note_path.h"
#include "vellum_version.h"

#include <cstdio>

namespace vellum {

std::string formatHistoryNote(const platform::UtcTime& now, std::int32_t replacedCount) {
    char note[256];
    std::snprintf(note, sizeof note, "v++++1 %d.%02d.%02d %d:%d:%d %d items replaced(vellum %s %s) ", now.year,
                  now.month, now.day, now.hour, now.minute, now.second, replacedCount, VELLUM_BUILD_DATE,
                  VELLUM_BUILD_TIME);
    return note;
}

NoteEdit appendHistoryNote(const BookDocument& document, std::int32_t replacedCount) {
    NoteEdit edit;
    // The children of the level that first gets a new child, counted before it does
    // (-1 when they cannot be counted).
    bool counted = false;
    auto countChildren = [&](const Node& parent) {
        if (counted) return;
        counted = true;
        NodeList children;
        std::int32_t count = 0;
        edit.parentChildren = selectChildElements(parent, children) && nodeListLength(children, count) ? count : -1;
    };
    // Each level is looked up on the whole document; a missing one is created under
    // the level before it, except the root, which is never made.
    Node level;
    for (std::size_t k = 0; k < kNoteDepth; ++k) {
        NodeList list;
        std::int32_t length = 0;
        if (!selectNodes(document, notePattern(k).c_str(), list) || !nodeListLength(list, length)) return edit;
        Node found;
        if (length >= 1) {
            if (!nodeListItem(list, 0, found)) return edit;
            edit.levels[k] = NoteLevel::found;
        } else if (k > 0 && level) {
            countChildren(level);
            if (!appendNewElement(document, level, kNotePath[k], "", &found)) return edit;
            edit.levels[k] = NoteLevel::created;
        }
        level = std::move(found);
    }
    if (!level) return edit;
    std::string note = formatHistoryNote(platform::utcNow(), replacedCount);
    countChildren(level);
    if (!appendNewElement(document, level, kNoteElement, note, nullptr)) return edit;
    edit.appended = true;
    edit.text = std::move(note);
    return edit;
}

}  // namespace vellum
