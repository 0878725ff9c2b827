// The Unicode functions the Windows hosts call in preference to the 8-bit ones, and
// the 8-bit extended header, each one line over the edge (edge.h). Built for the
// Windows targets only: Double Commander on Linux would switch to these if the
// shared object exported them.
#include "plugin/wcx.h"

#include "plugin/edge.h"
#include "plugin/host_text.h"

using namespace vellum;
using namespace vellum::plugin;

extern "C" {

HANDLE_WCX WCX_CALL OpenArchiveW(tOpenArchiveDataW* ArchiveData) { return openArchive<WideText>(ArchiveData); }

int WCX_CALL ReadHeaderEx(HANDLE_WCX hArcData, tHeaderDataEx* HeaderData) {
    return readHeader<NarrowText>(hArcData, HeaderData);
}

int WCX_CALL ReadHeaderExW(HANDLE_WCX hArcData, tHeaderDataExW* HeaderData) {
    return readHeader<WideText>(hArcData, HeaderData);
}

int WCX_CALL ProcessFileW(HANDLE_WCX hArcData, int Operation, WCHAR_WCX* DestPath, WCHAR_WCX* DestName) {
    return processFile<WideText>(hArcData, Operation, DestPath, DestName);
}

void WCX_CALL SetChangeVolProcW(HANDLE_WCX hArcData, tChangeVolProcW pChangeVolProc) {
    setChangeVolumeCallback(hArcData, &ArchiveHandle::changeVolProcW, pChangeVolProc);
}

void WCX_CALL SetProcessDataProcW(HANDLE_WCX hArcData, tProcessDataProcW pProcessDataProc) {
    setProgressCallback(hArcData, &ProgressCallbacks::wide, pProcessDataProc);
}

int WCX_CALL PackFilesW(WCHAR_WCX* PackedFile, WCHAR_WCX* SubPath, WCHAR_WCX* SrcPath, WCHAR_WCX* AddList, int Flags) {
    return packFiles<WideText>(PackedFile, SubPath, SrcPath, AddList, Flags);
}

int WCX_CALL CanYouHandleThisFileW(WCHAR_WCX* FileName) { return canYouHandleThisFile<WideText>(FileName); }

}  // extern "C"
