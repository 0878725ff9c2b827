#include "read_commands.h"

#include "host.h"
#include "index_file.h"
#include "output.h"
#include "progress.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vellum::tool {

int walkEntries(const PluginExports& api, const std::string& book, int openMode,
                const std::function<bool(OpenBook&, const Entry&)>& visit) {
    OpenBook open(api, book, openMode, Progress::callbacks());
    if (!open.isOpen()) return openFailed(api, book, open.openResult());
    Entry entry;
    int result;
    while ((result = open.next(entry)) == 0)
        if (!visit(open, entry)) return kExitOk;
    if (result == E_END_ARCHIVE) return kExitOk;
    Progress::instance().finish();
    flushOut();
    return listingFailed(book, result);
}

int readEntries(const PluginExports& api, const std::string& book, std::vector<Entry>& entries,
                std::optional<std::string>* indexText) {
    int failed = kExitOk;
    int status = walkEntries(api, book, PK_OM_LIST, [&](OpenBook& open, const Entry& entry) {
        // A binary named "files.bbs" would come first and be overwritten by the index.
        if (indexText != nullptr && entry.name == kIndexName) {
            TempFile temp;
            if (std::optional<std::string> error = temp.create()) {
                message("%s; the content types are not shown", error->c_str());
                entries.push_back(entry);
                return true;
            }
            int extracted = open.process(PK_EXTRACT, temp.path);
            std::optional<std::string> bytes = extracted == 0 ? readWholeFile(temp.path) : std::nullopt;
            if (!bytes) {
                message("cannot read the index of %s: %s", book.c_str(), codeName(extracted).c_str());
                failed = kExitPartly;
                return false;
            }
            *indexText = std::move(bytes);
        }
        entries.push_back(entry);
        return true;
    });
    return status != kExitOk ? status : failed;
}

namespace {

std::string formatDate(const host::DateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buffer;
}

std::string formatTime(const host::DateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buffer;
}

std::string jsonListing(const Options& options, const std::vector<Entry>& entries,
                        const std::vector<std::string>& types, long long totalSize, long long totalPacked) {
    std::size_t elements = entries.size() - 1;
    std::string out = "{\n  \"book\": " + jsonString(options.book) + ",\n  \"entries\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        host::DateTime t = host::decodeFileTime(e.fileTime);
        bool index = i == elements;
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"name\": " + jsonString(e.name) + ", \"size\": " + std::to_string(e.size) +
               ", \"packed\": " + std::to_string(e.packed) + ", \"date\": \"" + formatDate(t) + "\", \"time\": \"" +
               formatTime(t) + "\", \"type\": " + (index ? std::string("null") : jsonString(types[i])) +
               ", \"index\": " + (index ? "true" : "false") + "}";
    }
    out += entries.empty() ? "],\n" : "\n  ],\n";
    out += "  \"total\": {\"entries\": " + std::to_string(entries.size()) + ", \"size\": " +
           std::to_string(totalSize) + ", \"packed\": " + std::to_string(totalPacked) + "}\n}\n";
    return out;
}

std::string tableListing(const std::vector<Entry>& entries, const std::vector<std::string>& types,
                         long long totalSize, long long totalPacked) {
    std::size_t elements = entries.size() - 1;
    std::size_t typeWidth = 4;
    for (const std::string& type : types) typeWidth = std::max(typeWidth, type.size());
    std::string out;
    auto row = [&](const std::string& size, const std::string& packed, const std::string& date,
                   const std::string& time, const std::string& type, const std::string& name) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "%10s %10s  %-10s %-8s  ", size.c_str(), packed.c_str(), date.c_str(),
                      time.c_str());
        std::string line = buffer;
        line += type;
        line.append(typeWidth - std::min(typeWidth, type.size()) + 2, ' ');
        line += name;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    };
    row("Size", "Packed", "Date", "Time", "Type", "Name");
    std::string rule(typeWidth, '-');
    row("----------", "----------", "----------", "--------", rule, "----");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        host::DateTime t = host::decodeFileTime(e.fileTime);
        std::string type = i < elements && !types[i].empty() ? printable(types[i]) : "-";
        row(std::to_string(e.size), std::to_string(e.packed), formatDate(t), formatTime(t), type, printable(e.name));
    }
    row("----------", "----------", "", "", "", "----");
    row(std::to_string(totalSize), std::to_string(totalPacked), "", "", "",
        std::to_string(entries.size()) + (entries.size() == 1 ? " entry" : " entries"));
    return out;
}

// Whether an entry is wanted: every entry (the index unless left out), or the ones
// named, matched as the file manager matches names. The index is the last entry,
// named "files.bbs" and holding no element text.
bool wanted(const Entry& entry, const std::vector<std::string>& names, std::vector<bool>& found,
            const Options& options) {
    if (names.empty()) return !options.noIndex || entry.name != kIndexName || entry.packed != 0;
    bool any = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (text::sameName(entry.name, names[i])) {
            found[i] = true;
            any = true;
        }
    }
    return any;
}

}  // namespace

std::string safeFileName(const std::string& entryName) {
    std::string name = entryName;
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    if (name.empty() || name == "." || name == "..") name.assign(std::max<std::size_t>(name.size(), 1), '_');
    name = host::systemFileName(name);
    // File systems hold names of at most 255 bytes: cut the stem and keep a short
    // extension, without splitting a UTF-8 sequence.
    constexpr std::size_t kMaxName = 255;
    if (name.size() > kMaxName) {
        std::size_t dot = name.rfind('.');
        std::string extension = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
        name = std::string(text::cutUtf8(name, kMaxName - extension.size())) + extension;
    }
    return name;
}

int listCommand(const PluginExports& api, const Options& options) {
    std::vector<Entry> entries;
    std::optional<std::string> indexText;
    if (int status = readEntries(api, options.book, entries, &indexText); status != kExitOk) return status;
    std::size_t elements = entries.empty() ? 0 : entries.size() - 1;
    std::vector<std::string> types = indexText ? contentTypes(entries, *indexText) : std::vector<std::string>();
    if (!indexText) {
        types.assign(elements, std::string());  // the reason has been told
    } else if (types.size() != elements) {
        message("the index of %s does not match its entries; content types are not shown", options.book.c_str());
        types.assign(elements, std::string());
    }
    long long totalSize = 0, totalPacked = 0;
    for (const Entry& e : entries) {
        totalSize += e.size;
        totalPacked += e.packed;
    }
    std::string out = options.json ? jsonListing(options, entries, types, totalSize, totalPacked)
                           : tableListing(entries, types, totalSize, totalPacked);
    if (!writeTextOut(out) || !flushOut()) return kExitPartly;
    return kExitOk;
}

int testCommand(const PluginExports& api, const Options& options) {
    int tested = 0, failed = 0;
    int status = walkEntries(api, options.book, PK_OM_EXTRACT, [&](OpenBook& open, const Entry& entry) {
        ++tested;
        int code = open.process(PK_TEST);
        if (code == 0) {
            print("OK      %s\n", printable(entry.name).c_str());
        } else {
            ++failed;
            std::string why = code == E_BAD_DATA ? "cannot be read from the book" : "the plug-in answered " + codeName(code);
            print("FAILED  %s: %s\n", printable(entry.name).c_str(), why.c_str());
        }
        return true;
    });
    if (status != kExitOk) return status;
    if (failed == 0)
        print("%s: %d %s tested, no errors\n", options.book.c_str(), tested, tested == 1 ? "entry" : "entries");
    else
        print("%s: %d of %d %s failed the test\n", options.book.c_str(), failed, tested,
                    tested == 1 ? "entry" : "entries");
    if (!flushOut()) return kExitPartly;
    return failed == 0 ? kExitOk : kExitPartly;
}

int extractCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& names) {
    const std::string& folder = options.folder;
    std::vector<bool> found(names.size(), false);
    int total = 0;
    if (options.showProgress) {
        // The bar shows entries done of all: a first listing counts them, as a file
        // manager lists a book before it extracts from it.
        std::vector<Entry> entries;
        if (int status = readEntries(api, options.book, entries, nullptr); status != kExitOk) return status;
        std::vector<bool> ignored(names.size(), false);
        for (const Entry& e : entries) total += wanted(e, names, ignored, options) ? 1 : 0;
    }

    Progress& progress = Progress::instance();
    progress.start("extracting", total, options.showProgress);
    InterruptScope interruptible;
    std::vector<std::string> written;  // file names written so far
    int extracted = 0, failures = 0;
    int stopped = kExitOk;  // why the walk was broken off
    bool folderReady = false;
    int status = walkEntries(api, options.book, PK_OM_EXTRACT, [&](OpenBook& open, const Entry& entry) {
        if (!wanted(entry, names, found, options)) return true;
        std::string file = safeFileName(entry.name);
        bool taken = false;
        for (const std::string& w : written) taken = taken || text::sameName(w, file);
        if (taken) {
            progress.clearLine();
            message("skipped a second entry named %s in %s: its file name is taken", entry.name.c_str(),
                    options.book.c_str());
            ++failures;
            return true;
        }
        if (file != entry.name) {
            progress.clearLine();
            message("the entry %s is written as %s", entry.name.c_str(), file.c_str());
        }
        if (!folderReady && !folder.empty()) {
            // Made at the first entry to write, so a run that writes nothing leaves no folder.
            if (std::optional<std::string> error = host::makeFolders(folder)) {
                progress.finish();
                message("cannot create the folder %s: %s", folder.c_str(), error->c_str());
                stopped = kExitPartly;
                return false;
            }
        }
        folderReady = true;
        std::string target = joinPath(folder, file);
        // Never written over: the book being read and the plug-in reading it, through
        // whatever path or link; and without --overwrite, anything already there.
        const char* kept = host::sameFile(target, options.book)    ? "it is the book being read"
                           : host::sameFile(target, options.plugin) ? "it is the plug-in reading the book"
                           : !options.overwrite && host::nameExists(target) ? "it exists (--overwrite replaces it)"
                                                                    : nullptr;
        if (kept != nullptr) {
            progress.clearLine();
            message("%s is not written over: %s", target.c_str(), kept);
            ++failures;
            return true;
        }
        progress.beginItem(entry.name, static_cast<std::uint64_t>(entry.size < 0 ? 0 : entry.size));
        int code = open.process(PK_EXTRACT, target);
        progress.clearLine();
        if (code == 0) {
            written.push_back(file);
            ++extracted;
            print("%s\n", target.c_str());
            return true;
        }
        if (code == E_EABORTED || interrupted()) {
            flushOut();
            message("interrupted; %s was not extracted", entry.name.c_str());
            stopped = kExitInterrupted;
            return false;
        }
        message("%s", extractFailure(code, entry, options.book, target).c_str());
        ++failures;
        return true;
    });
    progress.finish();
    if (status != kExitOk) return status;
    if (stopped != kExitOk) return stopped;
    bool outOk = flushOut();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!found[i]) {
            message("%s has no entry named %s", options.book.c_str(), names[i].c_str());
            ++failures;
        }
    }
    if (!options.quiet)
        message("extracted %d %s from %s into %s", extracted, extracted == 1 ? "entry" : "entries",
                options.book.c_str(), folder.empty() ? "the current folder" : folder.c_str());
    return failures == 0 && outOk ? kExitOk : kExitPartly;
}

int catCommand(const PluginExports& api, const Options& options, const std::string& name) {
    int result = -1;  // set once the entry is found
    int status = walkEntries(api, options.book, PK_OM_EXTRACT, [&](OpenBook& open, const Entry& entry) {
        if (!text::sameName(entry.name, name)) return true;
        TempFile temp;
        if (std::optional<std::string> error = temp.create()) {
            message("%s", error->c_str());
            result = kExitPartly;
            return false;
        }
        int code;
        {
            InterruptScope interruptible;
            code = open.process(PK_EXTRACT, temp.path);
        }
        if (code == E_EABORTED || interrupted()) {
            message("interrupted");
            result = kExitInterrupted;
            return false;
        }
        if (code != 0) {
            message("%s", extractFailure(code, entry, options.book, "a temporary file").c_str());
            result = kExitPartly;
            return false;
        }
        FileHandle file = openFile(temp.path, "rb");
        if (!file) {
            message("cannot read the temporary file %s: %s", temp.path.c_str(), std::strerror(errno));
            result = kExitPartly;
            return false;
        }
        host::setBinaryStdout();
        char buffer[1 << 16];
        std::size_t n;
        bool ok = true;
        while (ok && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) ok = writeOut(buffer, n);
        result = ok && flushOut() ? kExitOk : kExitPartly;
        return false;
    });
    if (status != kExitOk) return status;
    if (result >= 0) return result;
    message("%s has no entry named %s", options.book.c_str(), name.c_str());
    return kExitPartly;
}

}  // namespace vellum::tool
