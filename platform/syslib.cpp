#include "syslib.h"
#include "text.h"

FARPROC g_systemProcs[SYS_COUNT];

/* Each library, then its functions in the order of SYS_* (syslib.h); an
   empty name ends a library, a second one the table. COMCTL32 comes first:
   SHELL32 uses it, and finds it loaded. */
static const char kLibraries[] =
    "comctl32.dll\0" "InitCommonControls\0" "\0"
    "lz32.dll\0" "LZOpenFileA\0" "LZRead\0" "LZClose\0" "\0"
    "ole32.dll\0" "CoInitialize\0" "CoUninitialize\0" "\0"
    "shell32.dll\0" "SHGetMalloc\0" "SHGetSpecialFolderLocation\0" "SHBrowseForFolderA\0"
    "SHGetPathFromIDListA\0" "\0";

/* What the system's own code loads by name during a run (the visual styles,
   and the video and sound libraries of the animation control). Loaded
   beforehand from the system folder, a later load by name finds them
   loaded. */
static const char kLoadedLater[] = "uxtheme.dll\0" "msvfw32.dll\0" "msacm32.dll\0" "winmm.dll\0";

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD flags);
typedef BOOL(WINAPI *SetDllDirectoryProc)(LPCSTR path);

/* KERNEL32 is loaded in every process, so a load by name only finds it. */
FARPROC KernelProc(const char *name)
{
    return GetProcAddress(LoadLibraryExA("kernel32.dll", NULL, 0), name);
}

/* Both are asked for by name: older systems have neither. */
void TakeCurrentFolderOutOfSearch(void)
{
    SetDllDirectoryProc setDir = (SetDllDirectoryProc)(void (*)(void))KernelProc("SetDllDirectoryA");

    if (setDir != NULL)
        setDir("");
}

int RestrictLibrarySearch(void)
{
    SetDefaultDllDirectoriesProc setDefault =
        (SetDefaultDllDirectoriesProc)(void (*)(void))KernelProc("SetDefaultDllDirectories");

    if (setDefault != NULL && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return 1;
    TakeCurrentFolderOutOfSearch();
    return 0;
}

/* The library's full path in the system folder into path, then loaded.
   What it imports is looked for beside it first, in the system folder, not
   beside the program (a library loaded by full path is no safer than the
   libraries it brings in). */
static HMODULE LoadFromSystemFolder(const char *name, char *path, size_t cap)
{
    UINT len = GetSystemDirectoryA(path, (UINT)cap);

    if (len == 0 || len >= cap || !JoinText(path, cap, path, "\\", name)) {
        JoinText(path, cap, name, NULL, NULL);
        return NULL;
    }
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

int LoadSystemLibraries(int searchRestricted, char *missing, size_t cap)
{
    const char *p;
    int slot = 0;

    /* First: COMCTL32 itself looks for the visual styles as it loads. */
    if (!searchRestricted) {
        for (p = kLoadedLater; *p; p += TextLength(p, 64) + 1)
            LoadFromSystemFolder(p, missing, cap);   /* not every Windows has each */
    }
    for (p = kLibraries; *p; p++) {
        HMODULE lib = LoadFromSystemFolder(p, missing, cap);

        for (p += TextLength(p, 64) + 1; *p; p += TextLength(p, 64) + 1) {
            g_systemProcs[slot] = lib ? GetProcAddress(lib, p) : NULL;
            if (g_systemProcs[slot++] == NULL)
                return 0;
        }
    }
    missing[0] = '\0';
    return 1;
}
