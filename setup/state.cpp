#include "state.h"

HINSTANCE g_hInstance;
OSVERSIONINFOA g_osVersion;
HWND volatile g_hCurrentDialog;
HANDLE g_hSearchThread;
LONG volatile g_stopSearch;
LONG volatile g_folderFound;
LONG g_searchDone;
LONG g_yesToAll;
char g_gameFolder[MAX_PATH];
LONG g_silent;
LONG g_folderGiven;
int g_exitCode;
