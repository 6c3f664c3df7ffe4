/* The setup state: process-wide variables shared by the whole program.

   g_stopSearch and g_folderFound are shared by the UI thread and the search
   worker; like g_hCurrentDialog they are read and written only through the
   interlocked helpers below, so each side sees the other's writes whole and
   in order. g_searchDone and g_yesToAll belong to the UI thread. */
#ifndef SKYRIFT_STATE_H
#define SKYRIFT_STATE_H

#include <windows.h>

extern HINSTANCE g_hInstance;
extern OSVERSIONINFOA g_osVersion;
extern HWND volatile g_hCurrentDialog;
extern HANDLE g_hSearchThread;
extern LONG volatile g_stopSearch;
extern LONG volatile g_folderFound;
extern LONG g_searchDone;
extern LONG g_yesToAll;
extern char g_gameFolder[MAX_PATH];

static inline LONG GetFlag(LONG volatile *flag)
{
    return InterlockedCompareExchange(flag, 0, 0);
}

static inline void SetFlag(LONG volatile *flag, LONG value)
{
    InterlockedExchange(flag, value);
}

static inline HWND GetCurrentDialog(void)
{
    return (HWND)InterlockedCompareExchangePointer((PVOID volatile *)&g_hCurrentDialog, NULL, NULL);
}

static inline void SetCurrentDialog(HWND hwnd)
{
    InterlockedExchangePointer((PVOID volatile *)&g_hCurrentDialog, hwnd);
}

#endif
