#include "plugin.h"

#include "utf16.h"

#include <algorithm>
#include <vector>

namespace vellum::tool {

namespace {

// A book has no volumes; the plug-in keeps this callback and never calls it.
int WCX_CALL changeVolume(char*, int) { return 1; }
int WCX_CALL changeVolumeW(WCHAR_WCX*, int) { return 1; }

// Text as a zero-terminated buffer of the interface called.
std::vector<char> hostBuffer(const std::string& utf8) {
    std::string text = host::toHostText(utf8);
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}
std::u16string wideBuffer(const std::string& utf8) { return toUtf16(utf8); }

template <typename Function>
bool find(const host::Library& library, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(library.symbol(name));
    if (function == nullptr && missing.empty()) missing = name;
    return function != nullptr;
}

}  // namespace

bool Plugin::load(const std::string& path, bool eightBitOnly, std::string& error) {
    std::string why;
    library_ = host::Library::load(path, why);
    if (!library_) {
        error = "cannot load the plug-in " + path + ": " + why;
        return false;
    }
    std::string missing;
    find(library_, "OpenArchive", api_.openArchive, missing);
    find(library_, "ReadHeader", api_.readHeader, missing);
    find(library_, "ProcessFile", api_.processFile, missing);
    find(library_, "CloseArchive", api_.closeArchive, missing);
    find(library_, "SetChangeVolProc", api_.setChangeVolProc, missing);
    find(library_, "SetProcessDataProc", api_.setProcessDataProc, missing);
    find(library_, "GetPackerCaps", api_.getPackerCaps, missing);
    find(library_, "PackFiles", api_.packFiles, missing);
    find(library_, "CanYouHandleThisFile", api_.canYouHandleThisFile, missing);
    if (!missing.empty()) {
        error = "cannot use the plug-in " + path + ": it does not export " + missing;
        return false;
    }
    // The Unicode set, as Total Commander takes it: all of it, or none.
    PluginExports wide = api_;
    std::string absent;
    find(library_, "OpenArchiveW", wide.openArchiveW, absent);
    find(library_, "ReadHeaderExW", wide.readHeaderExW, absent);
    find(library_, "ProcessFileW", wide.processFileW, absent);
    find(library_, "SetChangeVolProcW", wide.setChangeVolProcW, absent);
    find(library_, "SetProcessDataProcW", wide.setProcessDataProcW, absent);
    find(library_, "PackFilesW", wide.packFilesW, absent);
    if (absent.empty() && !eightBitOnly) api_ = wide;
    return true;
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
        entry.name = fromUtf16(fieldText(header.FileName));
        entry.size = wholeSize(header.UnpSize, header.UnpSizeHigh);
        entry.packed = wholeSize(header.PackSize, header.PackSizeHigh);
        entry.fileTime = header.FileTime;
        entry.attr = header.FileAttr;
    } else {
        tHeaderData header{};
        int result = api_.readHeader(handle_, &header);
        if (result != 0) return result;
        entry.name = host::fromHostText(fieldText(header.FileName));
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
                        bool move, const ProgressCallbacks& progress) const {
    // The host's buffers: zero-terminated strings, the list of names ended by an empty one.
    HANDLE_WCX packing = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));
    int flags = move ? PK_PACK_MOVE_FILES : 0;
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
