// What an earlier download may have left beside the setup: a library or a
// program named like one of the system's. Whatever loads or starts it, it
// leaves a mark beside itself, a file of its own name with ".ran" added, and
// does nothing else. Built as a library (PLANTED_LIBRARY) and as a program.
#include <windows.h>
#include <string.h>

static void LeaveMark(HMODULE self)
{
    char path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    strcpy(path + n, ".ran");
    CloseHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL));
}

#ifdef PLANTED_LIBRARY
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        LeaveMark(self);
    return TRUE;
}
#else
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    LeaveMark(NULL);
    return 0;
}
#endif
