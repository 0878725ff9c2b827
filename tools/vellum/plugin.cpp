#include "plugin.h"

#include "text/system_text.h"
#include "text/unicode.h"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace vellum::tool {

namespace {

// A book has no volumes; the plug-in keeps this callback and never calls it.
int WCX_CALL changeVolume(char*, int) { return 1; }
int WCX_CALL changeVolumeW(WCHAR_WCX*, int) { return 1; }

// Text as a zero-terminated buffer of the interface called. In the 8-bit text, a
// character the code page cannot hold becomes "?", which names no file, rather than
// a character that could name another one.
std::vector<char> hostBuffer(const std::string& utf8) {
    std::string bytes = text::toCodePage(utf8, text::Unheld::question).text;
    std::vector<char> buffer(bytes.begin(), bytes.end());
    buffer.push_back('\0');
    return buffer;
}
std::u16string wideBuffer(const std::string& utf8) { return text::utf16FromUtf8(utf8); }

// One export to look up: its name, and where its address goes.
template <typename Function>
struct Wanted {
    const char* name;
    Function& function;
};
template <typename Function>
Wanted(const char*, Function&) -> Wanted<Function>;

// Looks up every export wanted; the name of the first one the module lacks, or empty.
template <typename... Functions>
std::string lookUp(const host::Library& library, Wanted<Functions>... wanted) {
    std::string missing;
    auto find = [&](const char* name, auto& function) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.symbol(name));
        if (function == nullptr && missing.empty()) missing = name;
    };
    (find(wanted.name, wanted.function), ...);
    return missing;
}

}  // namespace

std::optional<std::string> Plugin::load(const std::string& path, FunctionSet functions) {
    std::string why;
    library_ = host::Library::load(path, why);
    if (!library_) return "cannot load the plug-in " + path + ": " + why;
    std::string missing =
        lookUp(library_, Wanted{"OpenArchive", api_.openArchive}, Wanted{"ReadHeader", api_.readHeader},
               Wanted{"ProcessFile", api_.processFile}, Wanted{"CloseArchive", api_.closeArchive},
               Wanted{"SetChangeVolProc", api_.setChangeVolProc}, Wanted{"SetProcessDataProc", api_.setProcessDataProc},
               Wanted{"GetPackerCaps", api_.getPackerCaps}, Wanted{"PackFiles", api_.packFiles},
               Wanted{"CanYouHandleThisFile", api_.canYouHandleThisFile});
    if (!missing.empty()) return "cannot use the plug-in " + path + ": it does not export " + missing;
    // The Unicode set, as Total Commander takes it: all of it, or none.
    PluginExports wide = api_;
    std::string absent =
        lookUp(library_, Wanted{"OpenArchiveW", wide.openArchiveW}, Wanted{"ReadHeaderExW", wide.readHeaderExW},
               Wanted{"ProcessFileW", wide.processFileW}, Wanted{"SetChangeVolProcW", wide.setChangeVolProcW},
               Wanted{"SetProcessDataProcW", wide.setProcessDataProcW}, Wanted{"PackFilesW", wide.packFilesW});
    if (absent.empty() && functions == FunctionSet::unicodeWhenExported) api_ = wide;
    return std::nullopt;
}

OpenBook::OpenBook(const PluginExports& api, const std::string& path, int openMode, const ProgressCallbacks& progress)
    : api_(api) {
    if (api_.unicode()) {
        std::u16string name = wideBuffer(path);
        tOpenArchiveDataW data{};
        data.ArcName = name.data();
        data.OpenMode = openMode;
        handle_ = api_.openArchiveW(&data);
        openResult_ = data.OpenResult;
    } else {
        std::vector<char> name = hostBuffer(path);
        tOpenArchiveData data{};
        data.ArcName = name.data();
        data.OpenMode = openMode;
        handle_ = api_.openArchive(&data);
        openResult_ = data.OpenResult;
    }
    if (handle_ == nullptr) {
        if (openResult_ == 0) openResult_ = E_EOPEN;
        return;
    }
    if (api_.unicode()) {
        api_.setChangeVolProcW(handle_, &changeVolumeW);
        api_.setProcessDataProcW(handle_, progress.wide);
    } else {
        api_.setChangeVolProc(handle_, &changeVolume);
        api_.setProcessDataProc(handle_, progress.narrow);
    }
}

OpenBook::~OpenBook() {
    if (handle_ != nullptr) api_.closeArchive(handle_);
}

namespace {

// A record's name up to its first zero (or its end).
template <typename Char, std::size_t N>
std::basic_string<Char> fieldText(const Char (&field)[N]) {
    return std::basic_string<Char>(field, std::find(field, field + N, Char(0)));
}

std::int64_t wholeSize(unsigned int low, unsigned int high) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

}  // namespace

int OpenBook::next(Entry& entry) {
    if (pending_) process(PK_SKIP);
    if (api_.unicode()) {
        tHeaderDataExW header{};
        int result = api_.readHeaderExW(handle_, &header);
        if (result != 0) return result;
        entry.name = text::utf8FromUtf16(fieldText(header.FileName));
        entry.size = wholeSize(header.UnpSize, header.UnpSizeHigh);
        entry.packed = wholeSize(header.PackSize, header.PackSizeHigh);
        entry.fileTime = header.FileTime;
        entry.attr = header.FileAttr;
    } else {
        tHeaderData header{};
        int result = api_.readHeader(handle_, &header);
        if (result != 0) return result;
        entry.name = text::fromCodePage(fieldText(header.FileName));
        entry.size = header.UnpSize;
        entry.packed = header.PackSize;
        entry.fileTime = header.FileTime;
        entry.attr = header.FileAttr;
    }
    pending_ = true;
    return 0;
}

int OpenBook::process(int operation, const std::string& target) {
    pending_ = false;
    if (api_.unicode()) {
        std::u16string name = wideBuffer(target);
        return api_.processFileW(handle_, operation, nullptr, name.data());
    }
    std::vector<char> name = hostBuffer(target);
    return api_.processFile(handle_, operation, nullptr, name.data());
}

int PluginExports::pack(const std::string& book, const std::string& folder, const std::vector<std::string>& names,
                        int flags, const ProgressCallbacks& progress) const {
    // The host's buffers: zero-terminated strings, the list of names ended by an empty one.
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    if (unicode()) {
        std::u16string list;
        for (const std::string& name : names) list += wideBuffer(name) + u'\0';
        list += u'\0';
        std::u16string bookPath = wideBuffer(book), source = wideBuffer(folder);
        setProcessDataProcW(packing, progress.wide);
        return packFilesW(bookPath.data(), nullptr, source.data(), list.data(), flags);
    }
    std::vector<char> list;
    for (const std::string& name : names) {
        std::vector<char> one = hostBuffer(name);
        list.insert(list.end(), one.begin(), one.end());
    }
    list.push_back('\0');
    std::vector<char> bookPath = hostBuffer(book), source = hostBuffer(folder);
    setProcessDataProc(packing, progress.narrow);
    return packFiles(bookPath.data(), nullptr, source.data(), list.data(), flags);
}

std::string codeName(int code) {
    switch (code) {
    case E_END_ARCHIVE: return "E_END_ARCHIVE";
    case E_NO_MEMORY: return "E_NO_MEMORY";
    case E_BAD_DATA: return "E_BAD_DATA";
    case E_BAD_ARCHIVE: return "E_BAD_ARCHIVE";
    case E_UNKNOWN_FORMAT: return "E_UNKNOWN_FORMAT";
    case E_EOPEN: return "E_EOPEN";
    case E_ECREATE: return "E_ECREATE";
    case E_ECLOSE: return "E_ECLOSE";
    case E_EREAD: return "E_EREAD";
    case E_EWRITE: return "E_EWRITE";
    case E_SMALL_BUF: return "E_SMALL_BUF";
    case E_EABORTED: return "E_EABORTED";
    case E_NO_FILES: return "E_NO_FILES";
    case E_TOO_MANY_FILES: return "E_TOO_MANY_FILES";
    case E_NOT_SUPPORTED: return "E_NOT_SUPPORTED";
    default: return "result " + std::to_string(code);
    }
}

}  // namespace vellum::tool
