#include "commands.h"

#include "host.h"
#include "progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vellum::tool {

namespace {

const char kIndexName[] = "files.bbs";

void message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void message(const char* format, ...) {
    std::fputs("vellum: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// A temporary file, removed when it goes.
struct TempFile {
    std::string path;
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path.empty()) host::removeFile(path);
    }
    // Creates the file; false, with the reason told, when that fails.
    bool create() {
        std::string error;
        path = host::makeTempFile(error);
        if (path.empty()) message("cannot create a temporary file: %s", error.c_str());
        return !path.empty();
    }
};

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (host::isSeparator(folder.back())) return folder + name;
    return folder + host::separator() + name;
}

// Why a book did not open, from OpenArchive's result and what the system says of the file.
std::string openFailure(const std::string& book, int code) {
    std::string why;
    switch (code) {
    case E_BAD_ARCHIVE: why = "not a FictionBook book"; break;
    case E_NO_MEMORY: why = "out of memory"; break;
    case E_EOPEN:
        switch (host::pathKind(book)) {
        case host::PathKind::missing: why = "no such file"; break;
        case host::PathKind::folder: why = "it is a folder"; break;
        default:
            if (std::string error; !host::canRead(book, error))
                why = error;
            else
                why = "not a well-formed XML document";
        }
        break;
    default: why = "the plug-in answered " + codeName(code);
    }
    return "cannot open " + book + ": " + why;
}

int openFailed(const std::string& book, int code) {
    message("%s", openFailure(book, code).c_str());
    return code == E_NO_MEMORY ? kExitPartly : kExitBadBook;
}

int listingFailed(const std::string& book, int code) {
    message("cannot list %s: %s", book.c_str(),
            code == E_NO_MEMORY ? "out of memory" : ("the plug-in answered " + codeName(code)).c_str());
    return kExitPartly;
}

// The entries of a book as listed by the plug-in; with `indexText`, the content of
// "files.bbs" too, extracted on the same handle when it comes, last.
int readEntries(const PluginExports& api, const std::string& book, std::vector<Entry>& entries,
                std::string* indexText) {
    OpenBook open(api, book, PK_OM_LIST, &Progress::callback);
    if (!open.isOpen()) return openFailed(book, open.openResult());
    Entry entry;
    int result;
    while ((result = open.next(entry)) == 0) {
        // A binary named "files.bbs" would come first and be overwritten by the index.
        if (indexText != nullptr && entry.name == kIndexName) {
            TempFile temp;
            if (!temp.create()) return kExitPartly;
            int extracted = open.process(PK_EXTRACT, temp.path);
            if (extracted != 0 || !readWholeFile(temp.path, *indexText)) {
                message("cannot read the index of %s: %s", book.c_str(), codeName(extracted).c_str());
                return kExitPartly;
            }
        }
        entries.push_back(entry);
    }
    if (result != E_END_ARCHIVE) return listingFailed(book, result);
    return kExitOk;
}

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

// The content types of the listed elements (all entries but the last, the index),
// read back from the index text, whose line i describes entry i. A content type
// ends at the line end that the next entry's line follows, so one holding a line
// break of its own is still read whole. Empty when the text does not match.
std::vector<std::string> contentTypes(const std::vector<Entry>& entries, const std::string& text) {
    std::vector<std::string> types;
    std::size_t count = entries.empty() ? 0 : entries.size() - 1;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        pos = matchLineStart(text, pos, entries[i]);
        if (pos == std::string::npos) return {};
        std::size_t end = std::string::npos;
        if (i + 1 == count) {
            if (text.size() >= pos + 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) end = text.size() - 2;
        } else {
            for (std::size_t at = text.find("\r\n", pos); at != std::string::npos; at = text.find("\r\n", at + 1)) {
                if (matchLineStart(text, at + 2, entries[i + 1]) != std::string::npos) {
                    end = at;
                    break;
                }
            }
        }
        if (end == std::string::npos) return {};
        types.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return types;
}

// Text for the terminal: control characters shown as "?".
std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

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

// A JSON string: UTF-8 text escaped; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        int length = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= utf8.size();
        for (int k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0xC0) == 0x80;
        if (valid) {
            out.append(utf8, i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

// Writes bytes to standard output; false (after a message, unless the reader has
// gone away) when they cannot be written.
bool writeOut(const char* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, stdout) != size) {
        if (errno != EPIPE) message("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

bool flushOut() {
    if (std::fflush(stdout) != 0) {
        if (errno != EPIPE) message("cannot write to standard output: %s", std::strerror(errno));
        return false;
    }
    return true;
}

std::string extractFailure(int code, const Entry& entry, const std::string& book, const std::string& target) {
    switch (code) {
    case E_BAD_DATA: return "cannot read the entry " + entry.name + " from " + book;
    case E_ECREATE:
    case E_ECLOSE:
    case E_EOPEN: return "cannot create " + target;
    case E_EWRITE: return "cannot write " + target + ": the disk is full or the file is too large";
    case E_NO_MEMORY: return "cannot extract " + entry.name + ": out of memory";
    default: return "cannot extract " + entry.name + ": the plug-in answered " + codeName(code);
    }
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
        std::size_t keep = kMaxName - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name = name.substr(0, keep) + extension;
    }
    return name;
}

int listCommand(const PluginExports& api, const Options& options, bool json) {
    std::vector<Entry> entries;
    std::string indexText;
    if (int status = readEntries(api, options.book, entries, &indexText); status != kExitOk) return status;
    std::vector<std::string> types = contentTypes(entries, indexText);
    std::size_t elements = entries.empty() ? 0 : entries.size() - 1;
    if (types.size() != elements) {
        message("the index of %s does not match its entries; content types are not shown", options.book.c_str());
        types.assign(elements, std::string());
    }

    long long totalSize = 0, totalPacked = 0;
    for (const Entry& e : entries) {
        totalSize += e.size;
        totalPacked += e.packed;
    }
    std::string out;
    if (json) {
        out = "{\n  \"book\": " + jsonString(host::toUtf8(options.book)) + ",\n  \"entries\": [";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            host::DateTime t = host::decodeFileTime(e.fileTime);
            bool index = i == elements;
            out += i == 0 ? "\n" : ",\n";
            out += "    {\"name\": " + jsonString(host::toUtf8(e.name)) + ", \"size\": " + std::to_string(e.size) +
                   ", \"packed\": " + std::to_string(e.packed) + ", \"date\": \"" + formatDate(t) +
                   "\", \"time\": \"" + formatTime(t) + "\", \"type\": " +
                   (index ? std::string("null") : jsonString(host::toUtf8(types[i]))) +
                   ", \"index\": " + (index ? "true" : "false") + "}";
        }
        out += entries.empty() ? "],\n" : "\n  ],\n";
        out += "  \"total\": {\"entries\": " + std::to_string(entries.size()) +
               ", \"size\": " + std::to_string(totalSize) + ", \"packed\": " + std::to_string(totalPacked) + "}\n}\n";
    } else {
        std::size_t typeWidth = 4;
        for (const std::string& type : types) typeWidth = std::max(typeWidth, type.size());
        auto row = [&](const std::string& size, const std::string& packed, const std::string& date,
                       const std::string& time, const std::string& type, const std::string& name) {
            char buffer[128];
            std::snprintf(buffer, sizeof buffer, "%10s %10s  %-10s %-8s  ", size.c_str(), packed.c_str(),
                          date.c_str(), time.c_str());
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
            row(std::to_string(e.size), std::to_string(e.packed), formatDate(t), formatTime(t), type,
                printable(e.name));
        }
        row("----------", "----------", "", "", "", "----");
        row(std::to_string(totalSize), std::to_string(totalPacked), "", "", "",
            std::to_string(entries.size()) + (entries.size() == 1 ? " entry" : " entries"));
    }
    if (!writeOut(out.data(), out.size()) || !flushOut()) return kExitPartly;
    return kExitOk;
}

int testCommand(const PluginExports& api, const Options& options) {
    OpenBook open(api, options.book, PK_OM_EXTRACT, &Progress::callback);
    if (!open.isOpen()) return openFailed(options.book, open.openResult());
    int tested = 0, failed = 0;
    Entry entry;
    int result;
    while ((result = open.next(entry)) == 0) {
        ++tested;
        int code = open.process(PK_TEST);
        if (code == 0) {
            std::printf("OK      %s\n", printable(entry.name).c_str());
        } else {
            ++failed;
            std::string why = code == E_BAD_DATA ? "cannot be read from the book"
                                                 : "the plug-in answered " + codeName(code);
            std::printf("FAILED  %s: %s\n", printable(entry.name).c_str(), why.c_str());
        }
    }
    if (result != E_END_ARCHIVE) {
        flushOut();
        return listingFailed(options.book, result);
    }
    if (failed == 0)
        std::printf("%s: %d %s tested, no errors\n", options.book.c_str(), tested, tested == 1 ? "entry" : "entries");
    else
        std::printf("%s: %d of %d %s failed the test\n", options.book.c_str(), failed, tested,
                    tested == 1 ? "entry" : "entries");
    if (!flushOut()) return kExitPartly;
    return failed == 0 ? kExitOk : kExitPartly;
}

namespace {

// Whether an entry is wanted: every entry (the index unless left out), or the ones
// named, matched as the file manager matches names. The index is the last entry,
// named "files.bbs" and holding no element text.
bool wanted(const Entry& entry, const std::vector<std::string>& names, std::vector<bool>& found, bool withIndex) {
    if (names.empty()) return withIndex || entry.name != kIndexName || entry.packed != 0;
    bool any = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (host::sameName(entry.name, names[i])) {
            found[i] = true;
            any = true;
        }
    }
    return any;
}

}  // namespace

int extractCommand(const PluginExports& api, const Options& options, const std::string& folder,
                   const std::vector<std::string>& names, bool withIndex) {
    std::vector<bool> found(names.size(), false);
    int total = 0;
    if (options.showProgress) {
        // The bar shows entries done of all: a first listing counts them, as a file
        // manager lists a book before it extracts from it.
        std::vector<Entry> entries;
        if (int status = readEntries(api, options.book, entries, nullptr); status != kExitOk) return status;
        std::vector<bool> ignored(names.size(), false);
        for (const Entry& e : entries) total += wanted(e, names, ignored, withIndex) ? 1 : 0;
    }

    OpenBook open(api, options.book, PK_OM_EXTRACT, &Progress::callback);
    if (!open.isOpen()) return openFailed(options.book, open.openResult());

    Progress& progress = Progress::instance();
    progress.start("extracting", total, options.showProgress);
    InterruptScope interruptible;
    std::vector<std::string> written;  // file names written so far
    int extracted = 0, failures = 0;
    bool folderReady = false;
    Entry entry;
    int result;
    while ((result = open.next(entry)) == 0) {
        if (!wanted(entry, names, found, withIndex)) continue;
        std::string file = safeFileName(entry.name);
        bool taken = false;
        for (const std::string& w : written) taken = taken || host::sameName(w, file);
        if (taken) {
            progress.clearLine();
            message("skipped a second entry named %s in %s: its file name is taken", entry.name.c_str(),
                    options.book.c_str());
            ++failures;
            continue;
        }
        if (file != entry.name) {
            progress.clearLine();
            message("the entry %s is written as %s", entry.name.c_str(), file.c_str());
        }
        if (!folderReady && !folder.empty()) {
            // Made at the first entry to write, so a run that writes nothing leaves no folder.
            if (std::string error; !host::makeFolders(folder, error)) {
                progress.finish();
                message("cannot create the folder %s: %s", folder.c_str(), error.c_str());
                return kExitPartly;
            }
        }
        folderReady = true;
        std::string target = joinPath(folder, file);
        progress.beginItem(entry.name, static_cast<std::uint64_t>(entry.size < 0 ? 0 : entry.size));
        int code = open.process(PK_EXTRACT, target);
        if (code == 0) {
            written.push_back(file);
            ++extracted;
            progress.clearLine();
            std::printf("%s\n", target.c_str());
            continue;
        }
        progress.clearLine();
        if (code == E_EABORTED || interrupted()) {
            flushOut();
            message("interrupted; %s was not extracted", entry.name.c_str());
            return kExitInterrupted;
        }
        message("%s", extractFailure(code, entry, options.book, target).c_str());
        ++failures;
    }
    progress.finish();
    if (result != E_END_ARCHIVE) {
        flushOut();
        return listingFailed(options.book, result);
    }
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
    OpenBook open(api, options.book, PK_OM_EXTRACT, &Progress::callback);
    if (!open.isOpen()) return openFailed(options.book, open.openResult());
    Entry entry;
    int result;
    while ((result = open.next(entry)) == 0) {
        if (!host::sameName(entry.name, name)) continue;
        TempFile temp;
        if (!temp.create()) return kExitPartly;
        int code;
        {
            InterruptScope interruptible;
            code = open.process(PK_EXTRACT, temp.path);
        }
        if (code == E_EABORTED || interrupted()) {
            message("interrupted");
            return kExitInterrupted;
        }
        if (code != 0) {
            message("%s", extractFailure(code, entry, options.book, "a temporary file").c_str());
            return kExitPartly;
        }
        std::FILE* file = std::fopen(temp.path.c_str(), "rb");
        if (file == nullptr) {
            message("cannot read the temporary file %s: %s", temp.path.c_str(), std::strerror(errno));
            return kExitPartly;
        }
        host::setBinaryStdout();
        char buffer[1 << 16];
        std::size_t n;
        bool ok = true;
        while (ok && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) ok = writeOut(buffer, n);
        std::fclose(file);
        return ok && flushOut() ? kExitOk : kExitPartly;
    }
    if (result != E_END_ARCHIVE) return listingFailed(options.book, result);
    message("%s has no entry named %s", options.book.c_str(), name.c_str());
    return kExitPartly;
}

namespace {

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
            if (std::string error; !host::canRead(r->file, error)) return "cannot read " + r->file + ": " + error;
        return "cannot open " + book + " or one of the files from " + group.front()->folder;
    case E_EREAD: return "cannot read one of the files from " + group.front()->folder;
    case E_EWRITE:
        if (host::isReadOnly(book)) return "cannot save " + book + ": the file is read-only";
        return "cannot save " + book + ": the disk is full or the folder cannot be written";
    case E_NO_FILES: return "cannot find the binaries of " + book;
    case E_NOT_SUPPORTED: return "the plug-in refused the names from " + group.front()->folder;
    case E_NO_MEMORY: return "cannot change " + book + ": out of memory";
    default: return "cannot change " + book + ": the plug-in answered " + codeName(code);
    }
}

}  // namespace

int replaceCommand(const PluginExports& api, const Options& options, const std::vector<std::string>& files,
                   bool move) {
    // Check every file first: the book is changed for all of them or none.
    std::vector<Replacement> replacements;
    bool bad = false;
    for (const std::string& file : files) {
        host::PathKind kind = host::pathKind(file);
        std::string error;
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
        if (!host::canRead(file, error)) {
            message("cannot read %s: %s", file.c_str(), error.c_str());
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
            if (host::sameName(other.name, r.name)) {
                message("%s and %s would both replace %s", other.file.c_str(), file.c_str(), r.name.c_str());
                bad = true;
            }
        }
        replacements.push_back(r);
    }
    if (bad) {
        message("nothing was changed in %s", options.book.c_str());
        return kExitPartly;
    }

    // The plug-in passes over names that match no entry without a word: say which.
    std::vector<Entry> entries;
    if (int status = readEntries(api, options.book, entries, nullptr); status != kExitOk) return status;
    if (!entries.empty()) entries.pop_back();  // the index, which nothing replaces
    std::vector<Replacement> matched;
    int unmatched = 0;
    for (Replacement& r : replacements) {
        if (host::sameName(r.name, kIndexName)) {
            message("%s is left out: files.bbs is the book's generated index", r.file.c_str());
            ++unmatched;
            continue;
        }
        for (const Entry& e : entries) {
            if (host::sameName(e.name, r.name)) {
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

    // One PackFiles call per source folder, in the order the folders first come.
    std::vector<std::vector<const Replacement*>> groups;
    for (const Replacement& r : matched) {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.front()->folder == r.folder; });
        if (group == groups.end())
            groups.push_back({&r});
        else
            group->push_back(&r);
    }
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
        std::string list;
        for (const Replacement* r : group) list += r->name + '\0';
        list += '\0';
        std::vector<char> book(options.book.begin(), options.book.end());
        book.push_back('\0');
        std::vector<char> folder(group.front()->folder.begin(), group.front()->folder.end());
        folder.push_back('\0');
        std::vector<char> addList(list.begin(), list.end());
        api.setProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), &Progress::callback);
        int code = api.packFiles(book.data(), nullptr, folder.data(), addList.data(), move ? PK_PACK_MOVE_FILES : 0);
        if (code != 0) {
            progress.finish();
            flushOut();
            if (code == E_EABORTED || interrupted())
                message("interrupted; the files from %s were not put into %s", group.front()->folder.c_str(),
                        options.book.c_str());
            else
                message("%s", packFailure(code, options.book, group).c_str());
            if (replaced > 0)
                message("%d %s replaced before that stays in %s", replaced, replaced == 1 ? "entry" : "entries",
                        options.book.c_str());
            else
                message("nothing was changed in %s", options.book.c_str());
            return code == E_EABORTED || interrupted() ? kExitInterrupted : kExitNotChanged;
        }
        progress.clearLine();
        for (const Replacement* r : group) {
            ++replaced;
            std::printf("replaced %s with %s\n", r->entry.c_str(), r->file.c_str());
            if (move && host::pathKind(r->file) != host::PathKind::missing)
                message("%s was put into the book but could not be removed", r->file.c_str());
        }
    }
    progress.finish();
    std::printf("%s: %d %s replaced\n", options.book.c_str(), replaced, replaced == 1 ? "entry" : "entries");
    if (!flushOut()) return kExitPartly;
    return unmatched == 0 ? kExitOk : kExitPartly;
}

}  // namespace vellum::tool
