// A book's file as MSXML reads it: a read-only IStream over a file the platform
// opened, so that DOMDocument loads the book from that file (whose path may be longer
// than MAX_PATH, or name no URL) rather than from a path of its own.
#pragma once

#include "platform/platform.h"
#include "platform/win32_owners.h"

#include <objidl.h>

#include <atomic>
#include <cstdint>

namespace vellum::win32 {

// Reading, seeking and telling the size are what MSXML asks of a stream it loads
// from; the rest answers that it is not done. Owns its file until the last reference
// goes, or until closeFile().
class FileStream final : public IStream {
public:
    // A stream over `file`; null when the file is not open or the stream cannot be made.
    static ComPtr<FileStream> open(platform::File file);
    // Closes the file now (a reader may keep the stream longer than it reads it); the
    // stream then reads nothing more.
    void closeFile() { file_.close(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG want, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override;

private:
    explicit FileStream(platform::File file) : file_(std::move(file)) {}
    ~FileStream() = default;

    std::atomic<ULONG> references_{1};
    platform::File file_;
    std::uint64_t position_ = 0;
};

}  // namespace vellum::win32
