#include "plugin.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace vellum::tool {

namespace {

// A book has no volumes; the plug-in keeps this callback and never calls it.
int WCX_CALL changeVolume(char*, int) { return 1; }

template <typename Function>
bool find(const host::Library& library, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(library.symbol(name));
    if (function == nullptr && missing.empty()) missing = name;
    return function != nullptr;
}

}  // namespace

bool Plugin::load(const std::string& path, std::string& error) {
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
    return true;
}

OpenBook::OpenBook(const PluginExports& api, const std::string& path, int openMode, tProcessDataProc progress)
    : api_(api) {
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    tOpenArchiveData data{};
    data.ArcName = name.data();
    data.OpenMode = openMode;
    handle_ = api_.openArchive(&data);
    if (handle_ == nullptr) {
        openResult_ = data.OpenResult != 0 ? data.OpenResult : E_EOPEN;
        return;
    }
    api_.setChangeVolProc(handle_, &changeVolume);
    api_.setProcessDataProc(handle_, progress);
}

OpenBook::~OpenBook() {
    if (handle_ != nullptr) api_.closeArchive(handle_);
}

int OpenBook::next(Entry& entry) {
    if (pending_) process(PK_SKIP);
    tHeaderData header{};
    int result = api_.readHeader(handle_, &header);
    if (result != 0) return result;
    pending_ = true;
    entry.name.assign(header.FileName, std::find(std::begin(header.FileName), std::end(header.FileName), '\0'));
    entry.size = header.UnpSize;
    entry.packed = header.PackSize;
    entry.fileTime = header.FileTime;
    entry.attr = header.FileAttr;
    return 0;
}

int OpenBook::process(int operation, const std::string& target) {
    pending_ = false;
    std::vector<char> name(target.begin(), target.end());
    name.push_back('\0');
    return api_.processFile(handle_, operation, nullptr, name.data());
}

int PluginExports::pack(const std::string& book, const std::string& folder, const std::vector<std::string>& names,
                        bool move, tProcessDataProc progress) const {
    // The host's buffers: zero-terminated strings, the list of names ended by an empty one.
    std::string list;
    for (const std::string& name : names) list += name + '\0';
    list += '\0';
    std::vector<char> bookPath(book.begin(), book.end());
    bookPath.push_back('\0');
    std::vector<char> source(folder.begin(), folder.end());
    source.push_back('\0');
    std::vector<char> addList(list.begin(), list.end());
    setProcessDataProc(reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1)), progress);
    return packFiles(bookPath.data(), nullptr, source.data(), addList.data(), move ? PK_PACK_MOVE_FILES : 0);
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
