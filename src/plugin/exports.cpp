// The nine functions the host calls. Each checks its arguments, turns the handle
// into its BookArchive, makes one call into the core and returns the code. No
// exception ever reaches the host: running out of memory becomes E_NO_MEMORY (or a
// null handle), anything else a failure code of the call.
#include "plugin/wcx.h"

#include "plugin/book_archive.h"
#include "read/extraction.h"
#include "read/listing.h"
#include "replace/pack_files.h"

#include <cstdint>
#include <new>

using namespace vellum;

namespace {

constexpr int kCapabilities = PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_BY_CONTENT | PK_CAPS_HIDE;
static_assert(kCapabilities == 327);

const HANDLE_WCX kAllOnes = reinterpret_cast<HANDLE_WCX>(static_cast<std::intptr_t>(-1));

BookArchive* archiveOf(HANDLE_WCX handle) {
    return handle == nullptr || handle == kAllOnes ? nullptr : static_cast<BookArchive*>(handle);
}

template <typename Call>
int guarded(int otherFailure, Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    } catch (...) {
        return otherFailure;
    }
}

}  // namespace

extern "C" {

HANDLE_WCX WCX_CALL OpenArchive(tOpenArchiveData* ArchiveData) {
    if (ArchiveData == nullptr) return nullptr;
    try {
        return openBookArchive(ArchiveData->ArcName, ArchiveData->OpenResult);
    } catch (const std::bad_alloc&) {
        ArchiveData->OpenResult = E_NO_MEMORY;
    } catch (...) {
        ArchiveData->OpenResult = E_EOPEN;
    }
    return nullptr;
}

int WCX_CALL ReadHeader(HANDLE_WCX hArcData, tHeaderData* HeaderData) {
    BookArchive* archive = archiveOf(hArcData);
    if (archive == nullptr || HeaderData == nullptr) return E_END_ARCHIVE;
    return guarded(E_END_ARCHIVE, [&] { return readHeader(*archive, *HeaderData); });
}

int WCX_CALL ProcessFile(HANDLE_WCX hArcData, int Operation, char* DestPath, char* DestName) {
    if (Operation == PK_SKIP) return 0;
    BookArchive* archive = archiveOf(hArcData);
    if (archive == nullptr) return E_BAD_DATA;
    return guarded(E_BAD_DATA, [&] { return processFile(*archive, Operation, DestPath, DestName); });
}

int WCX_CALL CloseArchive(HANDLE_WCX hArcData) {
    closeBookArchive(archiveOf(hArcData));
    return 0;
}

void WCX_CALL SetChangeVolProc(HANDLE_WCX hArcData, tChangeVolProc pChangeVolProc) {
    if (BookArchive* archive = archiveOf(hArcData)) archive->changeVolProc = pChangeVolProc;
}

void WCX_CALL SetProcessDataProc(HANDLE_WCX hArcData, tProcessDataProc pProcessDataProc) {
    if (hArcData == kAllOnes)
        packProgressCallback = pProcessDataProc;
    else if (BookArchive* archive = archiveOf(hArcData))
        archive->processDataProc = pProcessDataProc;
}

int WCX_CALL GetPackerCaps(void) { return kCapabilities; }

int WCX_CALL PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags) {
    return guarded(E_EWRITE, [&] { return packFiles(PackedFile, SubPath, SrcPath, AddList, Flags); });
}

int WCX_CALL CanYouHandleThisFile(char* FileName) {
    if (FileName == nullptr) return 0;
    // Exactly 0 or 1, whatever goes wrong: the host reads a one-byte boolean.
    try {
        return isBook(FileName) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
