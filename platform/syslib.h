/* The system libraries the setup uses beyond KERNEL32 and USER32, loaded at
   start-up by their full path in the system folder, and the functions it
   calls in them (Sys... below, one each).

   Only KERNEL32 and USER32 are imported: both are part of the system on
   every Windows the setup runs on (the 95/98 family keeps them loaded in
   every process, the NT family lists them among its known DLLs, which no
   folder can shadow), and both are loaded before the program's first
   instruction. Every other library would be looked for in the program's
   own folder first on some Windows: COMCTL32 and LZ32 are known DLLs on no
   version after XP, and on the 95/98 family the known DLLs are whatever
   the registry of that machine lists. So those four are loaded by name
   from the system folder, not imported. */
#ifndef SKYRIFT_SYSLIB_H
#define SKYRIFT_SYSLIB_H

#include <windows.h>
#include <shlobj.h>
#include <lzexpand.h>   /* its constants: the functions are loaded below */

/* Holds every later search for a library to the system folder where the
   system can (Windows 8, and 7 with its update: SetDefaultDllDirectories),
   and returns 1; elsewhere takes the current folder out of the search where
   the system can (XP SP1 and later) and returns 0: the program's own folder
   then still comes first for a library loaded by name. */
int RestrictLibrarySearch(void);
void TakeCurrentFolderOutOfSearch(void);

/* A function of KERNEL32 that not every Windows has, asked for by name:
   NULL where it has not. */
FARPROC KernelProc(const char *name);

/* Loads the libraries below by full path and finds their functions; where
   the search could not be held to the system folder it also loads those
   that the system's own code loads later in a run. 0 when a library or a
   function is missing: *missing then names the library's path (or name). */
int LoadSystemLibraries(int searchRestricted, char *missing, size_t cap);

/* The functions, in the order the loader's table names them. */
enum {
    SYS_INITCOMMONCONTROLS,
    SYS_LZOPENFILE, SYS_LZREAD, SYS_LZCLOSE,
    SYS_COINITIALIZE, SYS_COUNINITIALIZE,
    SYS_SHGETMALLOC, SYS_SHGETSPECIALFOLDERLOCATION, SYS_SHBROWSEFORFOLDER, SYS_SHGETPATHFROMIDLIST,
    SYS_COUNT
};
extern FARPROC g_systemProcs[SYS_COUNT];

#define SYS_CALL(index, type) ((type)(void (*)(void))g_systemProcs[index])

static inline void SysInitCommonControls(void)
{
    SYS_CALL(SYS_INITCOMMONCONTROLS, void(WINAPI *)(void))();
}
static inline INT SysLZOpenFile(const char *path, OFSTRUCT *of, WORD style)
{
    return SYS_CALL(SYS_LZOPENFILE, INT(WINAPI *)(LPSTR, LPOFSTRUCT, WORD))((LPSTR)path, of, style);
}
static inline INT SysLZRead(INT file, char *buffer, INT count)
{
    return SYS_CALL(SYS_LZREAD, INT(WINAPI *)(INT, LPSTR, INT))(file, buffer, count);
}
static inline void SysLZClose(INT file)
{
    SYS_CALL(SYS_LZCLOSE, void(WINAPI *)(INT))(file);
}
static inline HRESULT SysCoInitialize(void)
{
    return SYS_CALL(SYS_COINITIALIZE, HRESULT(WINAPI *)(LPVOID))(NULL);
}
static inline void SysCoUninitialize(void)
{
    SYS_CALL(SYS_COUNINITIALIZE, void(WINAPI *)(void))();
}
static inline HRESULT SysSHGetMalloc(IMalloc **malloc)
{
    return SYS_CALL(SYS_SHGETMALLOC, HRESULT(WINAPI *)(IMalloc **))(malloc);
}
static inline HRESULT SysSHGetSpecialFolderLocation(int folder, LPITEMIDLIST *list)
{
    return SYS_CALL(SYS_SHGETSPECIALFOLDERLOCATION, HRESULT(WINAPI *)(HWND, int, LPITEMIDLIST *))(NULL, folder, list);
}
static inline LPITEMIDLIST SysSHBrowseForFolder(BROWSEINFOA *info)
{
    return SYS_CALL(SYS_SHBROWSEFORFOLDER, LPITEMIDLIST(WINAPI *)(LPBROWSEINFOA))(info);
}
static inline BOOL SysSHGetPathFromIDList(LPCITEMIDLIST list, char *path)
{
    return SYS_CALL(SYS_SHGETPATHFROMIDLIST, BOOL(WINAPI *)(LPCITEMIDLIST, LPSTR))(list, path);
}

#endif
