// The plug-in as the host sees it: a module with nine exports and, on Windows, their
// Unicode counterparts, loaded at run time; and an open book walked entry by entry
// in the host's calling order. Like Total Commander, the wrapper calls the Unicode
// functions when the module has them, else the 8-bit ones; its own text is UTF-8
// either way, converted here to the text of the functions it calls.
#pragma once

#include "host.h"
#include "plugin/wcx.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vellum::tool {

// The host's progress callbacks, one for each interface; the wrapper sets the one
// of the interface it calls.
struct ProgressCallbacks {
    tProcessDataProc narrow = nullptr;
    tProcessDataProcW wide = nullptr;
};

// The nine exports of a packer plug-in, and the Unicode ones the wrapper calls.
struct PluginExports {
    decltype(&::OpenArchive) openArchive = nullptr;
    decltype(&::ReadHeader) readHeader = nullptr;
    decltype(&::ProcessFile) processFile = nullptr;
    decltype(&::CloseArchive) closeArchive = nullptr;
    decltype(&::SetChangeVolProc) setChangeVolProc = nullptr;
    decltype(&::SetProcessDataProc) setProcessDataProc = nullptr;
    decltype(&::GetPackerCaps) getPackerCaps = nullptr;
    decltype(&::PackFiles) packFiles = nullptr;
    decltype(&::CanYouHandleThisFile) canYouHandleThisFile = nullptr;
    // Null unless the Unicode functions are called.
    decltype(&::OpenArchiveW) openArchiveW = nullptr;
    decltype(&::ReadHeaderExW) readHeaderExW = nullptr;
    decltype(&::ProcessFileW) processFileW = nullptr;
    decltype(&::SetChangeVolProcW) setChangeVolProcW = nullptr;
    decltype(&::SetProcessDataProcW) setProcessDataProcW = nullptr;
    decltype(&::PackFilesW) packFilesW = nullptr;

    // The Unicode functions are the ones called.
    bool unicode() const { return openArchiveW != nullptr; }

    // Packs the files `names` of `folder` (ending with a separator) into `book`, as
    // a file manager does: the packing callback is set for the handle -1 first, then
    // PackFiles is called once with `flags` (PK_PACK_MOVE_FILES). PackFiles's result.
    int pack(const std::string& book, const std::string& folder, const std::vector<std::string>& names, int flags,
             const ProgressCallbacks& progress) const;
};

// Which functions the wrapper calls: the Unicode ones when the module has them all
// (as Total Commander does), or always the 8-bit ones (--ansi).
enum class FunctionSet { unicodeWhenExported, eightBit };

// A loaded plug-in module with all nine exports found.
class Plugin {
public:
    // Loads the module at `path`; why it cannot be loaded or lacks one of the nine
    // exports, or nothing.
    std::optional<std::string> load(const std::string& path, FunctionSet functions);
    const PluginExports& api() const { return api_; }

private:
    host::Library library_;
    PluginExports api_;
};

// One entry as ReadHeader (or ReadHeaderExW) describes it.
struct Entry {
    std::string name;          // FileName, in UTF-8
    std::int64_t size = 0;     // UnpSize: decoded bytes
    std::int64_t packed = 0;   // PackSize: characters of the element's text
    std::int32_t fileTime = 0; // FileTime, in the host's convention (see host::decodeFileTime)
    std::int32_t attr = 0;     // FileAttr
};

// A book opened through the plug-in; closed (CloseArchive) on destruction. Calls
// come in the host's order: OpenArchive, SetChangeVolProc, SetProcessDataProc, then
// ReadHeader and ProcessFile in turns. An entry left unprocessed is skipped
// (PK_SKIP) before the next ReadHeader.
class OpenBook {
public:
    OpenBook(const PluginExports& api, const std::string& path, int openMode, const ProgressCallbacks& progress);
    ~OpenBook();
    OpenBook(const OpenBook&) = delete;
    OpenBook& operator=(const OpenBook&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    // OpenResult when the book did not open.
    int openResult() const { return openResult_; }

    // ReadHeader: 0 with the next entry, E_END_ARCHIVE after the last, or a failure code.
    int next(Entry& entry);
    // ProcessFile on the entry the last next() delivered. `target` is the whole
    // target path (DestPath null), used by PK_EXTRACT only.
    int process(int operation, const std::string& target = std::string());

private:
    const PluginExports& api_;
    HANDLE_WCX handle_ = nullptr;
    int openResult_ = 0;
    bool pending_ = false;
};

// The plug-in's name for a result code ("E_EWRITE"), or the number.
std::string codeName(int code);

}  // namespace vellum::tool
