/* One setup at a time: two would install into the same folder at once,
   through the same temporary files. A second start finds the first by its
   named mutex, brings the first's window to the front and ends. */
#include <windows.h>

#include "setup.h"

static const char kSetupName[] = "Vexmoor Skyrift Setup";

/* Windows come in order from the top, and a question is always above the
   dialog that owns it: the first shown window of the running setup's
   process is the one the player is to answer. */
static BOOL CALLBACK BringToFront(HWND hwnd, LPARAM processId)
{
    DWORD owner = 0;

    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != (DWORD)processId || !IsWindowVisible(hwnd))
        return TRUE;
    SetForegroundWindow(hwnd);
    return FALSE;
}

int AnotherSetupRuns(void)
{
    HWND hMain;
    DWORD processId;

    /* The handle stays open for the life of the process, which closes it. A
       mutex that cannot be made keeps no setup from running. */
    if (CreateMutexA(NULL, FALSE, kSetupName) == NULL || GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    /* A dialog of the setup's caption names the process: the welcome
       dialog lives as long as the run, hidden during its phases (the
       found question has the same caption, in the same process). */
    hMain = FindWindowA((LPCSTR)MAKEINTATOM(32770), kSetupName);
    if (hMain != NULL && GetWindowThreadProcessId(hMain, &processId))
        EnumWindows(BringToFront, (LPARAM)processId);
    return 1;
}
