// Stands in for Notepad beside a program under test: the program's
// WinExec finds it first (its own folder leads the search) and it records
// the command line it was started with in notepad.log next to itself.
#include <windows.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char log[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, log, MAX_PATH - 16);
    char *slash = strrchr(log, '\\');
    if (n == 0 || slash == NULL)
        return 1;
    strcpy(slash + 1, "notepad.log");
    HANDLE h = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    const char *cmd = GetCommandLineA();
    DWORD written;
    WriteFile(h, cmd, (DWORD)strlen(cmd), &written, NULL);
    WriteFile(h, "\r\n", 2, &written, NULL);
    CloseHandle(h);
    return 0;
}
