// The setup's start-up on a Windows that cannot hold the search for
// libraries to the system folder (95 to Vista, 7 without its update), run
// where Wine can: the current folder taken out, the system's libraries
// loaded as the setup loads them, then the search dialog made and its clip
// played, which brings in what the system's own code loads by name. Beside
// files planted under those names, none of them may run. Exit code 0 when
// the libraries loaded and the dialog came up.
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
