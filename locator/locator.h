/* Game folder locator: the drive search worker, the search dialog and the
   shell folder picker. */
#ifndef SKYRIFT_LOCATOR_H
#define SKYRIFT_LOCATOR_H

#include <windows.h>

/* Thread procedure (path NULL) and recursive walker (path = a directory
   ending in a backslash). Always returns 0. */
DWORD WINAPI SearchForGameFolder(LPVOID path);

/* Folders whose listing the walk has started: the benchmark's count. */
extern LONG g_foldersSearched;

/* Whether dir (a path ending in a backslash) holds the game's executable:
   1 or 0, or -1 when the path is too long to be tested. */
int HoldsGame(const char *dir);

/* UI thread: tell a running worker to stop. Once this returns the worker
   puts up no new message box. */
void StopSearchWorker(void);

/* UI thread: wait without limit for the worker in g_hSearchThread to end,
   serving the messages its message boxes send to our windows meanwhile. */
void WaitForSearchWorker(void);

INT_PTR CALLBACK SearchDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

int BrowseForFolder(const char *title, char *pathOut);
int BrowseForGameFolder(void);

#endif
