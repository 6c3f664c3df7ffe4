// The setup's start-up where the library search cannot be held to the system folder
// (95 to Vista): libraries loaded as the setup does, then the search dialog and its
// clip, beside planted files. Exit code 0 when the libraries loaded and the dialog came up.
#include <windows.h>

#include "platform/syslib.h"
#include "locator/locator.h"
#include "resources/resource.h"
#include "setup/state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char missing[MAX_PATH];
    TakeCurrentFolderOutOfSearch();
    if (!LoadSystemLibraries(0, missing, sizeof(missing)))
        return 1;
    g_hInstance = instance;
    SysInitCommonControls();
    SysCoInitialize();
    HWND search = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SEARCH), NULL, SearchDlgProc, 0);
    if (!search)
        return 2;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 500;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(10);
    }
    DestroyWindow(search);
    SysCoUninitialize();
    return 0;
}
