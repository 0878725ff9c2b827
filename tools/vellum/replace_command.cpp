#include "replace_command.h"

#include "host.h"
#include "output.h"
#include "progress.h"
#include "read_commands.h"
#include "text/system_text.h"

#include <algorithm>

namespace vellum::tool {

namespace {

// The plug-in takes files smaller than this: their Base64 text must fit the 32-bit
// counts of hosts and books.
constexpr std::uint64_t kMaxReplacementSize = std::uint64_t(512) << 20;

std::string tooLarge(const std::string& file) {
    return "cannot put " + file + " into a book: it has " + std::to_string(host::fileSize(file)) +
           " bytes, and a file put into a book must be smaller than 512 MiB";
}

struct Replacement {
    std::string file;    // as the user named it
    std::string folder;  // absolute, with a trailing separator
    std::string name;    // base name: the entry it replaces
    std::string entry;   // the entry's name as the book has it
};

std::string packFailure(int code, const std::string& book, const std::vector<const Replacement*>& group) {
    switch (code) {
    case E_EOPEN:
        for (const Replacement* r : group)
            if (std::optional<std::string> error = host::unreadable(r->file))
                return "cannot read " + r->file + ": " + *error;
        // The book was listed, and the files can be read: the plug-in read the book's
        // bytes but cannot load it as XML, which a change needs.
        if (!host::unreadable(book))
            return "cannot change " + book + ": it is damaged (not well-formed XML), and can only be read";
        return "cannot open " + book + " or one of the files from " + group.front()->folder;
    case E_EREAD: return "cannot read one of the files from " + group.front()->folder;
    case E_EWRITE:
        if (host::isReadOnly(book)) return "cannot save " + book + ": the file is read-only";
        return "cannot save " + book + ": the disk is full, or another program kept the book busy";
    case E_NOT_SUPPORTED:
        for (const Replacement* r : group)
            if (host::fileSize(r->file) >= kMaxReplacementSize) return tooLarge(r->file);
        return "the plug-in refused the names from " + group.front()->folder;
    case E_NO_MEMORY: return "cannot change " + book + ": out of memory";
    default: return "cannot change " + book + ": the plug-in answered " + codeName(code);
    }
}

// Checks every file first, so that the book is changed for all of them or none:
// kExitOk, kExitUsage for the book itself among them, else kExitPartly.
int checkFiles(const std::string& book, const std::vector<std::string>& files,
               std::vector<Replacement>& replacements) {
    bool bad = false;
    for (const std::string& file : files) {
        // The book put into itself, and with --move deleted, would be lost.
        if (host::sameFile(file, book)) {
            message("cannot put %s into %s: it is the book itself", file.c_str(), book.c_str());
            return kExitUsage;
        }
    }
    for (const std::string& file : files) {
        host::PathKind kind = host::pathKind(file);
        if (kind == host::PathKind::missing) {
            message("cannot read %s: no such file", file.c_str());
            bad = true;
            continue;
        }
        if (kind != host::PathKind::file) {
            message("cannot put %s into a book: it is not a file", file.c_str());
            bad = true;
            continue;
        }
        if (std::optional<std::string> error = host::unreadable(file)) {
            message("cannot read %s: %s", file.c_str(), error->c_str());
            bad = true;
            continue;
        }
        if (host::fileSize(file) >= kMaxReplacementSize) {
            message("%s", tooLarge(file).c_str());
            bad = true;
            continue;
        }
        std::string full = host::absolutePath(file);
        std::size_t cut = full.size();
        while (cut > 0 && !host::isSeparator(full[cut - 1])) --cut;
        Replacement r{file, full.substr(0, cut), full.substr(cut), std::string()};
        if (r.name.find('\\') != std::string::npos) {
            message("cannot put %s into a book: its name holds a backslash", file.c_str());
            bad = true;
            continue;
        }
        for (const Replacement& other : replacements) {
            if (text::sameName(other.name, r.name)) {
                message("%s and %s would both replace %s", other.file.c_str(), file.c_str(), r.name.c_str());
                bad = true;
            }
        }
        replacements.push_back(r);
    }
    return bad ? kExitPartly : kExitOk;
}

// The replacements by source folder, one PackFiles call each, in the order the
// folders first come.
std::vector<std::vector<const Replacement*>> byFolder(const std::vector<Replacement>& matched) {
    std::vector<std::vector<const Replacement*>> groups;
    for (const Replacement& r : matched) {
        auto sameFolder = [&](const auto& g) { return g.front()->folder == r.folder; };
        auto group = std::find_if(groups.begin(), groups.end(), sameFolder);
        if (group == groups.end())
            groups.push_back({&r});
        else
            group->push_back(&r);
    }
    return groups;
}

}  // namespace

int replaceCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& files) {
    std::vector<Replacement> replacements;
    if (int status = checkFiles(options.book, files, replacements); status != kExitOk) {
        message("nothing was changed in %s", options.book.c_str());
        return status;
    }

    // The plug-in passes over names that match no entry without a word: say which.
    std::vector<Entry> entries;
    if (int status = readEntries(api, options.book, entries, nullptr); status != kExitOk) return status;
    if (!entries.empty()) entries.pop_back();  // the index, which nothing replaces
    std::vector<Replacement> matched;
    int unmatched = 0;
    for (Replacement& r : replacements) {
        if (text::sameName(r.name, kIndexName)) {
            message("%s is left out: files.bbs is the book's generated index", r.file.c_str());
            ++unmatched;
            continue;
        }
        for (const Entry& e : entries) {
            if (text::sameName(e.name, r.name)) {
                r.entry = e.name;
                break;
            }
        }
        if (r.entry.empty()) {
            message("%s is left out: %s has no entry named %s", r.file.c_str(), options.book.c_str(), r.name.c_str());
            ++unmatched;
            continue;
        }
        matched.push_back(r);
    }
    if (matched.empty()) {
        message("nothing was changed in %s", options.book.c_str());
        return kExitPartly;
    }

    std::vector<std::vector<const Replacement*>> groups = byFolder(matched);
    std::vector<std::string> paths, names;
    std::vector<std::uint64_t> sizes;
    for (const auto& group : groups) {
        for (const Replacement* r : group) {
            paths.push_back(r->folder + r->name);
            names.push_back(r->name);
            sizes.push_back(host::fileSize(r->file));
        }
    }
    Progress& progress = Progress::instance();
    progress.start("replacing", static_cast<int>(matched.size()), options.showProgress);
    progress.expectItems(paths, names, sizes);

    int replaced = 0;
    InterruptScope interruptible;
    for (const auto& group : groups) {
        std::vector<std::string> groupNames;
        for (const Replacement* r : group) groupNames.push_back(r->name);
        int flags = options.move ? PK_PACK_MOVE_FILES : 0;
        int code = api.pack(options.book, group.front()->folder, groupNames, flags, Progress::callbacks());
        if (code == E_NO_FILES) {
            // The book changed since it was listed: nothing of this folder was put in.
            progress.clearLine();
            message("the files from %s are left out: %s has no entries of their names", group.front()->folder.c_str(),
                    options.book.c_str());
            unmatched += static_cast<int>(group.size());
            continue;
        }
        if (code != 0) {
            progress.finish();
            flushOut();
            bool stopped = code == E_EABORTED || interrupted();
            if (stopped)
                message("interrupted; the files from %s were not put into %s", group.front()->folder.c_str(),
                        options.book.c_str());
            else
                message("%s", packFailure(code, options.book, group).c_str());
            if (replaced > 0)
                message("%d %s replaced before that stays in %s", replaced, replaced == 1 ? "entry" : "entries",
                        options.book.c_str());
            else
                message("nothing was changed in %s", options.book.c_str());
            return stopped ? kExitInterrupted : kExitNotChanged;
        }
        progress.clearLine();
        for (const Replacement* r : group) {
            ++replaced;
            print("replaced %s with %s\n", r->entry.c_str(), r->file.c_str());
            if (options.move && host::pathKind(r->file) != host::PathKind::missing)
                message("%s was put into the book but could not be removed", r->file.c_str());
        }
    }
    progress.finish();
    if (replaced == 0) {
        message("nothing was changed in %s", options.book.c_str());
        return kExitPartly;
    }
    print("%s: %d %s replaced\n", options.book.c_str(), replaced, replaced == 1 ? "entry" : "entries");
    if (!flushOut()) return kExitPartly;
    return unmatched == 0 ? kExitOk : kExitPartly;
}

}  // namespace vellum::tool
