/* The search dialog: animation, Browse and Cancel. Each of its three ending
   handlers stops the worker, waits for it and ends the search phase. */
#include <windows.h>
#include <commctrl.h>

#include "locator.h"
#include "../setup/state.h"
#include "../resources/resource.h"

static void EndSearchPhase(void)
{
    StopSearchWorker();
    WaitForSearchWorker();
}

INT_PTR CALLBACK SearchDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(hwnd, IDC_ANIMATE, ACM_OPENA, 0, (LPARAM)MAKEINTRESOURCEA(IDR_SEARCH_CLIP));
        return TRUE;        /* the focus on Browse, the default button */

    case WM_TIMER:
        /* No timer runs here: this is the worker's "folder accepted". */
        if (!GetFlag(&g_folderFound))
            return FALSE;
        EndSearchPhase();
        g_searchDone = 1;
        return TRUE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            g_exitCode = ERROR_INSTALL_USEREXIT;
            EndSearchPhase();
            g_searchDone = 1;
            return TRUE;
        case IDC_BROWSE:
            EndSearchPhase();
            SetFlag(&g_folderFound, BrowseForGameFolder());
            g_searchDone = 1;
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
