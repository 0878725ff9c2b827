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

std::int32_t appendHistoryNote(const BookDocument& document, std::int32_t replacedCount, NoteEdit* report) {
    static const char* const kPatterns[] = {"FictionBook", "FictionBook/description",
                                            "FictionBook/description/document-info",
                                            "FictionBook/description/document-info/history"};
    static const char* const kNames[] = {nullptr, "description", "document-info", "history"};
    NoteEdit unreported;
    NoteEdit& edit = report != nullptr ? *report : unreported;
    edit = NoteEdit();
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
    for (int k = 0; k < 4; ++k) {
        NodeList list;
        std::int32_t length = 0;
        if (!selectNodes(document, kPatterns[k], list) || !nodeListLength(list, length)) return 0;
        Node found;
        if (length >= 1) {
            if (!nodeListItem(list, 0, found)) return 0;
            edit.levels[static_cast<std::size_t>(k)] = NoteLevel::found;
        } else if (k > 0 && level) {
            countChildren(level);
            if (appendChildElement(document, &level, kNames[k], nullptr, &found) != 0) return 0;
            edit.levels[static_cast<std::size_t>(k)] = NoteLevel::created;
        }
        level = std::move(found);
    }
    if (!level) return 0;
    std::string note = formatHistoryNote(platform::utcNow(), replacedCount);
    countChildren(level);
    if (!appendNewElement(document, level, "p", note, nullptr)) return 0;
    edit.appended = true;
    edit.text = std::move(note);
    return 1;
}

}  // namespace vellum
