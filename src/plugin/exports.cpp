// The nine functions the host calls, each one line over the edge (edge.h) for the
// host's 8-bit interface (the Unicode ones are in unicode_exports.cpp). No exception
// ever reaches the host: running out of memory becomes E_NO_MEMORY (or a null
// handle), anything else a failure code of the call.
#include "plugin/wcx.h"

#include "plugin/edge.h"
#include "plugin/host_text.h"

using namespace vellum;
using namespace vellum::plugin;

namespace vellum::plugin {

ProgressCallbacks packProgressCallbacks;

constexpr int kCapabilities = PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_BY_CONTENT | PK_CAPS_HIDE;
static_assert(kCapabilities == 327);

// The core's statuses go to the host as they are.
static_assert(resultCode(Status::endArchive) == E_END_ARCHIVE && resultCode(Status::noMemory) == E_NO_MEMORY &&
              resultCode(Status::badData) == E_BAD_DATA && resultCode(Status::badArchive) == E_BAD_ARCHIVE &&
              resultCode(Status::openFailed) == E_EOPEN && resultCode(Status::closeFailed) == E_ECLOSE &&
              resultCode(Status::readFailed) == E_EREAD && resultCode(Status::writeFailed) == E_EWRITE &&
              resultCode(Status::aborted) == E_EABORTED && resultCode(Status::noFiles) == E_NO_FILES &&
              resultCode(Status::notSupported) == E_NOT_SUPPORTED);

}  // namespace vellum::plugin

extern "C" {

HANDLE_WCX WCX_CALL OpenArchive(tOpenArchiveData* ArchiveData) { return openArchive<NarrowText>(ArchiveData); }

int WCX_CALL ReadHeader(HANDLE_WCX hArcData, tHeaderData* HeaderData) { return readHeader<NarrowText>(hArcData, HeaderData); }

int WCX_CALL ProcessFile(HANDLE_WCX hArcData, int Operation, char* DestPath, char* DestName) {
    return processFile<NarrowText>(hArcData, Operation, DestPath, DestName);
}

int WCX_CALL CloseArchive(HANDLE_WCX hArcData) {
    delete handleOf(hArcData);
    return 0;
}

void WCX_CALL SetChangeVolProc(HANDLE_WCX hArcData, tChangeVolProc pChangeVolProc) {
    setChangeVolumeCallback(hArcData, &ArchiveHandle::changeVolProc, pChangeVolProc);
}

void WCX_CALL SetProcessDataProc(HANDLE_WCX hArcData, tProcessDataProc pProcessDataProc) {
    setProgressCallback(hArcData, &ProgressCallbacks::narrow, pProcessDataProc);
}

int WCX_CALL GetPackerCaps(void) { return kCapabilities; }

int WCX_CALL PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags) {
    return packFiles<NarrowText>(PackedFile, SubPath, SrcPath, AddList, Flags);
}

int WCX_CALL CanYouHandleThisFile(char* FileName) { return canYouHandleThisFile<NarrowText>(FileName); }

}  // extern "C"
