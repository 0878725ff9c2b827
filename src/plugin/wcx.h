// The packer plug-in interface as the host defines it: records, flags, result codes,
// callback types, the nine exported functions and their Unicode counterparts. Nothing
// else belongs here. The Windows targets export the Unicode functions too (hosts call
// them in preference to the 8-bit ones); the Linux target exports the nine only.
//
// Total Commander on Windows (32- and 64-bit) lays the records out with natural
// alignment; Double Commander on Linux uses Pascal packed records. The build defines
// VELLUM_PACKED_HOST_RECORDS for the latter. Both layouts agree up to FileAttr,
// the last field the library writes.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef VELLUM_EXPORT
#define VELLUM_EXPORT
#endif

// The calling convention of every export and of the host's callbacks: the build
// defines it as the host's WINAPI (__stdcall) for Windows, which only 32-bit Windows
// tells apart from the C convention, and leaves the C convention on Linux.
#ifndef WCX_CALL
#define WCX_CALL
#endif

extern "C" {

typedef void* HANDLE_WCX;
// A UTF-16 code unit of the Unicode interface (the host's WCHAR).
typedef char16_t WCHAR_WCX;

// Operations of ProcessFile.
enum { PK_SKIP = 0, PK_TEST = 1, PK_EXTRACT = 2 };

// Flags of PackFiles.
enum { PK_PACK_MOVE_FILES = 1, PK_PACK_SAVE_PATHS = 2, PK_PACK_ENCRYPT = 4 };

// Capability bits of GetPackerCaps.
enum {
    PK_CAPS_NEW = 1,
    PK_CAPS_MODIFY = 2,
    PK_CAPS_MULTIPLE = 4,
    PK_CAPS_DELETE = 8,
    PK_CAPS_OPTIONS = 16,
    PK_CAPS_MEMPACK = 32,
    PK_CAPS_BY_CONTENT = 64,
    PK_CAPS_SEARCHTEXT = 128,
    PK_CAPS_HIDE = 256,
    PK_CAPS_ENCRYPT = 512
};

// Result codes.
enum {
    E_END_ARCHIVE = 10,
    E_NO_MEMORY = 11,
    E_BAD_DATA = 12,
    E_BAD_ARCHIVE = 13,
    E_UNKNOWN_FORMAT = 14,
    E_EOPEN = 15,
    E_ECREATE = 16,
    E_ECLOSE = 17,
    E_EREAD = 18,
    E_EWRITE = 19,
    E_SMALL_BUF = 20,
    E_EABORTED = 21,
    E_NO_FILES = 22,
    E_TOO_MANY_FILES = 23,
    E_NOT_SUPPORTED = 24
};

// Open modes of tOpenArchiveData.
enum { PK_OM_LIST = 0, PK_OM_EXTRACT = 1 };

#ifdef VELLUM_PACKED_HOST_RECORDS
#pragma pack(push, 1)
#endif

typedef struct {
    char ArcName[260];
    char FileName[260];
    int Flags;
    int PackSize;
    int UnpSize;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tHeaderData;

typedef struct {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveData;

// The extended header records, 8-bit and Unicode: sizes in two 32-bit halves.
typedef struct {
    char ArcName[1024];
    char FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
    char Reserved[1024];
} tHeaderDataEx;

typedef struct {
    WCHAR_WCX ArcName[1024];
    WCHAR_WCX FileName[1024];
    int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
    char Reserved[1024];
} tHeaderDataExW;

typedef struct {
    WCHAR_WCX* ArcName;
    int OpenMode;
    int OpenResult;
    WCHAR_WCX* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
} tOpenArchiveDataW;

#ifdef VELLUM_PACKED_HOST_RECORDS
#pragma pack(pop)
#endif

// The host's progress callback: a file name and a byte count; 0 back means abort.
typedef int (WCX_CALL* tProcessDataProc)(char* FileName, int Size);
typedef int (WCX_CALL* tProcessDataProcW)(WCHAR_WCX* FileName, int Size);
// The host's volume callback; stored, never called (a book has no volumes).
typedef int (WCX_CALL* tChangeVolProc)(char* ArcName, int Mode);
typedef int (WCX_CALL* tChangeVolProcW)(WCHAR_WCX* ArcName, int Mode);

VELLUM_EXPORT HANDLE_WCX WCX_CALL OpenArchive(tOpenArchiveData* ArchiveData);
VELLUM_EXPORT int WCX_CALL ReadHeader(HANDLE_WCX hArcData, tHeaderData* HeaderData);
VELLUM_EXPORT int WCX_CALL ProcessFile(HANDLE_WCX hArcData, int Operation, char* DestPath, char* DestName);
VELLUM_EXPORT int WCX_CALL CloseArchive(HANDLE_WCX hArcData);
VELLUM_EXPORT void WCX_CALL SetChangeVolProc(HANDLE_WCX hArcData, tChangeVolProc pChangeVolProc);
VELLUM_EXPORT void WCX_CALL SetProcessDataProc(HANDLE_WCX hArcData, tProcessDataProc pProcessDataProc);
VELLUM_EXPORT int WCX_CALL GetPackerCaps(void);
VELLUM_EXPORT int WCX_CALL PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags);
VELLUM_EXPORT int WCX_CALL CanYouHandleThisFile(char* FileName);

// The Unicode interface (Windows targets only): the same calls with UTF-16 text, and
// the extended header records.
VELLUM_EXPORT HANDLE_WCX WCX_CALL OpenArchiveW(tOpenArchiveDataW* ArchiveData);
VELLUM_EXPORT int WCX_CALL ReadHeaderEx(HANDLE_WCX hArcData, tHeaderDataEx* HeaderData);
VELLUM_EXPORT int WCX_CALL ReadHeaderExW(HANDLE_WCX hArcData, tHeaderDataExW* HeaderData);
VELLUM_EXPORT int WCX_CALL ProcessFileW(HANDLE_WCX hArcData, int Operation, WCHAR_WCX* DestPath, WCHAR_WCX* DestName);
VELLUM_EXPORT void WCX_CALL SetChangeVolProcW(HANDLE_WCX hArcData, tChangeVolProcW pChangeVolProc);
VELLUM_EXPORT void WCX_CALL SetProcessDataProcW(HANDLE_WCX hArcData, tProcessDataProcW pProcessDataProc);
VELLUM_EXPORT int WCX_CALL PackFilesW(WCHAR_WCX* PackedFile, WCHAR_WCX* SubPath, WCHAR_WCX* SrcPath, WCHAR_WCX* AddList,
                                      int Flags);
VELLUM_EXPORT int WCX_CALL CanYouHandleThisFileW(WCHAR_WCX* FileName);

}  // extern "C"

// Both layouts agree up to FileAttr; after it they differ as each host defines.
static_assert(offsetof(tHeaderData, FileName) == 260);
static_assert(offsetof(tHeaderData, Flags) == 520);
static_assert(offsetof(tHeaderData, FileTime) == 540);
static_assert(offsetof(tHeaderData, FileAttr) == 552);
#if UINTPTR_MAX == UINT32_MAX
// 32-bit Windows: pointers of 4 bytes, so nothing needs padding.
static_assert(sizeof(tHeaderData) == 572 && offsetof(tHeaderData, CmtBuf) == 556);
static_assert(offsetof(tHeaderData, CmtState) == 568);
static_assert(offsetof(tOpenArchiveData, OpenMode) == 4);
static_assert(offsetof(tOpenArchiveData, OpenResult) == 8);
static_assert(offsetof(tOpenArchiveData, CmtBuf) == 12);
static_assert(offsetof(tOpenArchiveData, CmtState) == 24);
static_assert(sizeof(tOpenArchiveData) == 28);
#else
static_assert(offsetof(tOpenArchiveData, OpenMode) == 8);
static_assert(offsetof(tOpenArchiveData, OpenResult) == 12);
static_assert(offsetof(tOpenArchiveData, CmtBuf) == 16);
static_assert(offsetof(tOpenArchiveData, CmtState) == 32);
#ifdef VELLUM_PACKED_HOST_RECORDS
static_assert(sizeof(tHeaderData) == 576 && offsetof(tHeaderData, CmtBuf) == 556);
static_assert(sizeof(tOpenArchiveData) == 36);
#else
static_assert(sizeof(tHeaderData) == 584 && offsetof(tHeaderData, CmtBuf) == 560);
static_assert(sizeof(tOpenArchiveData) == 40);
#endif
#endif

// The extended records, as the Windows hosts lay them out (the Linux target does not
// export the functions that take them).
static_assert(offsetof(tHeaderDataEx, FileName) == 1024 && offsetof(tHeaderDataEx, Flags) == 2048);
static_assert(offsetof(tHeaderDataEx, PackSizeHigh) == 2056 && offsetof(tHeaderDataEx, UnpSizeHigh) == 2064);
static_assert(offsetof(tHeaderDataEx, FileAttr) == 2088);
static_assert(offsetof(tHeaderDataExW, FileName) == 2048 && offsetof(tHeaderDataExW, Flags) == 4096);
static_assert(offsetof(tHeaderDataExW, PackSizeHigh) == 4104 && offsetof(tHeaderDataExW, UnpSizeHigh) == 4112);
static_assert(offsetof(tHeaderDataExW, FileAttr) == 4136);
static_assert(offsetof(tOpenArchiveDataW, OpenResult) == offsetof(tOpenArchiveData, OpenResult) &&
              offsetof(tOpenArchiveDataW, CmtState) == offsetof(tOpenArchiveData, CmtState) &&
              sizeof(tOpenArchiveDataW) == sizeof(tOpenArchiveData));
#ifndef VELLUM_PACKED_HOST_RECORDS
#if UINTPTR_MAX == UINT32_MAX
static_assert(offsetof(tHeaderDataEx, CmtBuf) == 2092 && offsetof(tHeaderDataEx, Reserved) == 2108);
static_assert(sizeof(tHeaderDataEx) == 3132);
static_assert(offsetof(tHeaderDataExW, CmtBuf) == 4140 && offsetof(tHeaderDataExW, Reserved) == 4156);
static_assert(sizeof(tHeaderDataExW) == 5180);
#else
static_assert(offsetof(tHeaderDataEx, CmtBuf) == 2096 && offsetof(tHeaderDataEx, Reserved) == 2116);
static_assert(sizeof(tHeaderDataEx) == 3144);
static_assert(offsetof(tHeaderDataExW, CmtBuf) == 4144 && offsetof(tHeaderDataExW, Reserved) == 4164);
static_assert(sizeof(tHeaderDataExW) == 5192);
#endif
#endif
