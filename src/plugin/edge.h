// What every export does between the host and the core, written once for both
// interfaces of the host (`Text` is its kind of text, see host_text.h): the record
// behind a handle, the host's callbacks bound as progress sinks, the host's records
// and the index text filled from the core's entry descriptions, and the one
// catch-all that keeps every exception away from the host.
#pragma once

#include "core/book_archive.h"
#include "core/extraction.h"
#include "core/listing.h"
#include "core/pack_run.h"
#include "core/progress.h"
#include "core/status.h"
#include "platform/platform.h"
#include "plugin/host_text.h"
#include "plugin/wcx.h"
#include "text/system_text.h"
#include "text/unicode.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

namespace vellum::plugin {

// The handle value that stands for "the packing run" in SetProcessDataProc.
inline const HANDLE_WCX kPackingHandle = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));

// The host's progress callbacks, one for each of its interfaces.
struct ProgressCallbacks {
    tProcessDataProc narrow = nullptr;
    tProcessDataProcW wide = nullptr;
};

// What a handle the host holds stands for: an open book, the text of its "files.bbs"
// as the listing has shown it so far, and the host's callbacks.
struct ArchiveHandle {
    std::unique_ptr<BookArchive> archive;
    std::string indexText;  // in the host's 8-bit text, one line per delivered element
    tChangeVolProc changeVolProc = nullptr;  // kept, never called: a book has no volumes
    tChangeVolProcW changeVolProcW = nullptr;
    ProgressCallbacks progress;
};

// The process-wide progress callbacks used while packing; none when loaded.
extern ProgressCallbacks packProgressCallbacks;

inline ArchiveHandle* handleOf(HANDLE_WCX handle) {
    return handle == nullptr || handle == kPackingHandle ? nullptr : static_cast<ArchiveHandle*>(handle);
}

// SetProcessDataProc and its Unicode twin: the handle -1 sets the callback of the
// packing run, another handle the callback of its archive.
template <typename Callback>
void setProgressCallback(HANDLE_WCX handle, Callback ProgressCallbacks::*which, Callback callback) {
    if (handle == kPackingHandle)
        packProgressCallbacks.*which = callback;
    else if (ArchiveHandle* open = handleOf(handle))
        open->progress.*which = callback;
}

// SetChangeVolProc and its Unicode twin.
template <typename Callback>
void setChangeVolumeCallback(HANDLE_WCX handle, Callback ArchiveHandle::*which, Callback callback) {
    if (ArchiveHandle* open = handleOf(handle)) open->*which = callback;
}

// A status as the host's result code: the values are the same.
constexpr int resultCode(Status status) { return static_cast<int>(status); }

// Runs an export's body; running out of memory becomes `noMemory`, any other
// exception `otherFailure`.
template <typename Call>
int guarded(int otherFailure, Call call, int noMemory = E_NO_MEMORY) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return noMemory;
    } catch (...) {
        return otherFailure;
    }
}

// The host's progress callbacks as a sink. A call through one interface reports
// through that interface's callback; a host that set only the other one hears
// through that one instead, so that it can still follow and stop the work. The
// callbacks are read at every report, so a host that changes them meanwhile is heard;
// the path is converted for both when the file begins, before it is created, so that
// running out of memory cannot leave a file behind.
template <typename Text>
class HostProgress final : public ProgressSink {
public:
    explicit HostProgress(const ProgressCallbacks* callbacks) : callbacks_(callbacks) {}
    void beginFile(const std::string& path) override {
        narrowPath_ = text::toCodePage(path).text;
        widePath_ = text::utf16FromUtf8(path);
    }
    bool report(std::int64_t bytes) override {
        ProgressCallbacks now = *callbacks_;
        int size = static_cast<int>(bytes);
        bool wide = now.wide != nullptr && (std::is_same_v<Text, WideText> || now.narrow == nullptr);
        if (wide) return now.wide(widePath_.data(), size) != 0;
        if (now.narrow != nullptr) return now.narrow(narrowPath_.data(), size) != 0;
        return true;
    }

private:
    const ProgressCallbacks* callbacks_;
    std::string narrowPath_;
    std::u16string widePath_;
};

inline int clamp32(std::int64_t value) { return static_cast<int>(std::min<std::int64_t>(value, INT32_MAX)); }

// Fills the fields of a header record that describe `entry`; the others keep what
// the host put there. An extended record takes the sizes whole, in two 32-bit
// halves; the others at most INT32_MAX.
template <typename Text, typename Header>
void describe(Header& header, const EntryDescription& entry, const platform::UtcTime& openTime) {
    Text::copyName(header.FileName, entry.name);
    if (entry.kind == platform::EntryKind::index) header.Flags = 0;
    if constexpr (requires { header.PackSizeHigh; }) {
        auto packed = static_cast<std::uint64_t>(entry.packedSize), size = static_cast<std::uint64_t>(entry.size);
        header.PackSize = static_cast<unsigned int>(packed & 0xFFFFFFFFu);
        header.PackSizeHigh = static_cast<unsigned int>(packed >> 32);
        header.UnpSize = static_cast<unsigned int>(size & 0xFFFFFFFFu);
        header.UnpSizeHigh = static_cast<unsigned int>(size >> 32);
    } else {
        header.PackSize = clamp32(entry.packedSize);
        header.UnpSize = clamp32(entry.size);
    }
    header.FileCRC = 0;
    header.FileTime = static_cast<int>(platform::hostFileTime(openTime));
    header.FileAttr = platform::hostFileAttr(entry.kind, header.FileAttr);
}

template <typename Text, typename OpenData>
HANDLE_WCX openArchive(OpenData* data) {
    if (data == nullptr) return nullptr;
    HANDLE_WCX opened = nullptr;
    int result = guarded(E_EOPEN, [&] {
        auto handle = std::make_unique<ArchiveHandle>();
        Status status = openBookArchive(toCore<Text>(data->ArcName), handle->archive);
        if (status == Status::ok) opened = handle.release();
        return resultCode(status);
    });
    // The result is written only when the book did not open.
    if (opened == nullptr) data->OpenResult = result;
    return opened;
}

template <typename Text, typename Header>
int readHeader(HANDLE_WCX handle, Header* header) {
    ArchiveHandle* open = handleOf(handle);
    if (open == nullptr || header == nullptr) return E_END_ARCHIVE;
    return guarded(E_END_ARCHIVE, [&] {
        EntryDescription entry;
        Status status = vellum::readHeader(*open->archive, entry);
        if (status != Status::ok) return resultCode(status);
        if (entry.kind == platform::EntryKind::index)
            entry.size = static_cast<std::int64_t>(open->indexText.size());
        else
            appendIndexLine(open->indexText, entry);
        describe<Text>(*header, entry, open->archive->openTime);
        return 0;
    });
}

template <typename Text>
int processFile(HANDLE_WCX handle, int operation, const typename Text::Char* destPath,
                const typename Text::Char* destName) {
    if (operation == PK_SKIP) return 0;
    ArchiveHandle* open = handleOf(handle);
    if (open == nullptr) return E_BAD_DATA;
    return guarded(E_BAD_DATA, [&]() -> int {
        if (operation == PK_TEST) return resultCode(testEntry(*open->archive));
        if (operation != PK_EXTRACT) return E_BAD_DATA;
        std::optional<std::string> target = targetPath<Text>(destPath, destName);
        HostProgress<Text> progress(&open->progress);
        return resultCode(extractEntry(*open->archive, open->indexText, target ? &*target : nullptr, &progress));
    });
}

template <typename Text>
int packFiles(const typename Text::Char* packedFile, const typename Text::Char* subPath,
              const typename Text::Char* srcPath, const typename Text::Char* addList, int flags) {
    if (packedFile == nullptr || srcPath == nullptr || addList == nullptr) return E_EOPEN;
    return guarded(E_EWRITE, [&] {
        HostProgress<Text> progress(&packProgressCallbacks);
        PackRequest request;
        request.book = toCore<Text>(packedFile);
        request.subPath = subPath != nullptr;
        request.names = packNames<Text>(srcPath, addList);
        request.moveFiles = (flags & PK_PACK_MOVE_FILES) != 0;
        request.listedNames = Text::kNames;
        request.progress = &progress;
        return resultCode(vellum::packFiles(request));
    });
}

template <typename Text>
int canYouHandleThisFile(const typename Text::Char* fileName) {
    if (fileName == nullptr) return 0;
    // Exactly 0 or 1, whatever goes wrong: the host reads a one-byte boolean.
    return guarded(0, [&] { return isBook(toCore<Text>(fileName)) ? 1 : 0; }, 0);
}

}  // namespace vellum::plugin
