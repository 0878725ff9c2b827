#include "book/msxml_file_stream.h"

#include <cstring>
#include <new>

namespace vellum::win32 {

ComPtr<FileStream> FileStream::open(platform::File file) {
    ComPtr<FileStream> stream;
    if (!file.isOpen()) return stream;
    FileStream* made = new (std::nothrow) FileStream(std::move(file));
    if (made != nullptr) stream.Attach(made);  // takes the reference it was made with
    return stream;
}

HRESULT FileStream::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG FileStream::AddRef() { return ++references_; }

ULONG FileStream::Release() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// As much as is asked, unless the file ends first (then S_FALSE).
HRESULT FileStream::Read(void* into, ULONG want, ULONG* read) {
    if (into == nullptr) return STG_E_INVALIDPOINTER;
    ULONG done = 0;
    HRESULT result = S_OK;
    while (done < want && file_.isOpen()) {
        std::uint32_t got = 0;
        if (!platform::readSome(file_, static_cast<char*>(into) + done, want - done, got)) {
            result = STG_E_READFAULT;
            break;
        }
        if (got == 0) break;
        done += got;
    }
    position_ += done;
    if (read != nullptr) *read = done;
    return result != S_OK ? result : done == want ? S_OK : S_FALSE;
}

HRESULT FileStream::Write(const void*, ULONG, ULONG* written) {
    if (written != nullptr) *written = 0;
    return STG_E_ACCESSDENIED;
}

HRESULT FileStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) {
    std::int64_t base = 0;
    if (origin == STREAM_SEEK_CUR) {
        base = static_cast<std::int64_t>(position_);
    } else if (origin == STREAM_SEEK_END) {
        std::uint64_t size = 0;
        if (!file_.isOpen() || !platform::fileSize(file_, size)) return STG_E_SEEKERROR;
        base = static_cast<std::int64_t>(size);
    } else if (origin != STREAM_SEEK_SET) {
        return STG_E_INVALIDFUNCTION;
    }
    std::int64_t target = base + move.QuadPart;
    if (target < 0 || !file_.isOpen() || !platform::seekTo(file_, static_cast<std::uint64_t>(target)))
        return STG_E_SEEKERROR;
    position_ = static_cast<std::uint64_t>(target);
    if (at != nullptr) at->QuadPart = position_;
    return S_OK;
}

HRESULT FileStream::Stat(STATSTG* stat, DWORD) {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    std::uint64_t size = 0;
    if (!file_.isOpen() || !platform::fileSize(file_, size)) return STG_E_ACCESSDENIED;
    std::memset(stat, 0, sizeof *stat);  // no name, whatever is asked
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size;
    stat->grfMode = STGM_READ;
    return S_OK;
}

HRESULT FileStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }
HRESULT FileStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT FileStream::Commit(DWORD) { return S_OK; }
HRESULT FileStream::Revert() { return S_OK; }
HRESULT FileStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
HRESULT FileStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT FileStream::Clone(IStream** copy) {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
}

}  // namespace vellum::win32
