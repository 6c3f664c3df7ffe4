/* The setup state: process-wide variables shared by the whole program.

   g_stopSearch and g_folderFound are shared by the UI thread and the search
   worker; like g_hCurrentDialog they are read and written only through the
   helpers below, so each side sees the other's writes whole and in order.
   g_searchDone and g_yesToAll belong to the UI thread.

   The helpers use only what a 386 has. A write is an interlocked exchange,
   an XCHG with memory, which the processor locks by itself and which orders
   every load and store around it (a full barrier); a compiler barrier in
   front keeps the compiler from sinking earlier accesses below it. A read
   is a plain load of an aligned word (32 bits, or 64 for a handle on
   x86-64), which every x86 performs whole; x86 keeps loads in order with
   older loads and stores in order with older stores, so only the compiler
   has to be kept from moving later accesses above it. */
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

/* A start with nobody at the screen (the command line's switches):
   SILENT_SHOWN shows the search and copying dialogs and nothing else,
   SILENT_QUIET (which includes it) no window at all. 0: a player is there. */
#define SILENT_SHOWN 1
#define SILENT_QUIET 3
extern LONG g_silent;
/* g_gameFolder came from the command line (empty when it was refused). */
extern LONG g_folderGiven;
/* The exit code of a silent run; a player's run ends with 0. */
extern int g_exitCode;

/* Emits nothing: the compiler keeps memory accesses on their side of it. */
static inline void CompilerBarrier(void)
{
    __asm__ __volatile__("" ::: "memory");
}

static inline LONG GetFlag(const LONG volatile *flag)
{
    LONG value = *flag;

    CompilerBarrier();
    return value;
}

static inline void SetFlag(LONG volatile *flag, LONG value)
{
    CompilerBarrier();
    InterlockedExchange(flag, value);
}

static inline HWND GetCurrentDialog(void)
{
    HWND hwnd = g_hCurrentDialog;

    CompilerBarrier();
    return hwnd;
}

static inline void SetCurrentDialog(HWND hwnd)
{
    CompilerBarrier();
    InterlockedExchangePointer((PVOID volatile *)&g_hCurrentDialog, hwnd);
}

#endif
