/* The flow controller behind Install: search phase in a nested message
   loop, then the copying phase behind the copying dialog. */
#include <windows.h>

#include "setup.h"
#include "state.h"
#include "../locator/locator.h"
#include "../installer/installer.h"
#include "../resources/resource.h"

INT_PTR CALLBACK CopyDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)hwnd;
    (void)msg;
    (void)wParam;
    (void)lParam;
    return FALSE;
}

void DispatchToDialog(HWND hDialog, MSG *msg)
{
    if (!IsDialogMessageA(hDialog, msg)) {
        TranslateMessage(msg);
        DispatchMessageA(msg);
    }
}

static void ForgetSearchWorker(void)
{
    WaitForSearchWorker();
    if (g_hSearchThread != NULL) {
        CloseHandle(g_hSearchThread);
        g_hSearchThread = NULL;
    }
}

void RunSetupPhases(HWND hWelcome)
{
    HWND hSearch, hCopy;
    DWORD threadId;
    MSG msg;
    BOOL got;

    ShowWindow(hWelcome, SW_HIDE);
    SetFlag(&g_stopSearch, 0);
    SetFlag(&g_folderFound, 0);
    g_searchDone = 0;

    /* The search dialog is made current before the worker starts, so every
       question and notification of the worker reaches it. Without the
       dialog there is no search phase; the welcome dialog comes back. */
    hSearch = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL,
                                 SearchDlgProc, 0);
    if (hSearch == NULL) {
        ShowWindow(hWelcome, SW_SHOWNORMAL);
        return;
    }
    SetCurrentDialog(hSearch);

    g_hSearchThread = CreateThread(NULL, 0, SearchForGameFolder, NULL, 0, &threadId);
    if (g_hSearchThread == NULL) {
        /* no worker to search: go straight to the folder picker */
        PostMessageA(hSearch, WM_COMMAND, IDC_BROWSE, 0);
    }

    while (!g_searchDone) {
        got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0 || got == -1)
            break;
        DispatchToDialog(hSearch, &msg);
    }

    DestroyWindow(hSearch);

    if (!GetFlag(&g_folderFound)) {
        StopSearchWorker();
        ForgetSearchWorker();
        ShowWindow(hWelcome, SW_SHOWNORMAL);
        return;
    }
    ForgetSearchWorker();

    hCopy = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_COPYING), NULL,
                               CopyDlgProc, 0);
    SetCurrentDialog(hCopy);

    if (InstallAllFiles() != 0) {
        if (hCopy != NULL)
            DestroyWindow(hCopy);
        ShowWindow(hWelcome, SW_SHOWNORMAL);
        return;
    }

    if (hCopy != NULL)
        DestroyWindow(hCopy);
    DestroyWindow(hWelcome);
    PostQuitMessage(0);
}
