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

/* The search phase: 1 when a game folder was taken. A folder the command
   line gave is taken without a search when it holds the game; when it does
   not, a silent run has no folder and a player's run searches. The silent
   run with no window searches on this thread, with no dialog. */
static int FindGameFolder(void)
{
    HWND hSearch;
    DWORD threadId;
    MSG msg;
    BOOL got;

    if (g_folderGiven) {
        if (g_gameFolder[0] != '\0' && HoldsGame(g_gameFolder) > 0) {
            Log("Folder given: %.260s", g_gameFolder);
            return 1;
        }
        Log("Folder given, not the game's or too long: %.260s", g_gameFolder);
        g_folderGiven = 0;
        if (g_silent)
            return 0;
    }

    SetFlag(&g_stopSearch, 0);
    SetFlag(&g_folderFound, 0);
    g_searchDone = 0;

    if (g_silent == SILENT_QUIET) {
        SearchForGameFolder(NULL);
        return GetFlag(&g_folderFound);
    }

    /* The search dialog is made current before the worker starts, so every
       question and notification of the worker reaches it. Without the
       dialog there is no search phase; the welcome dialog comes back. */
    hSearch = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL,
                                 SearchDlgProc, 0);
    if (hSearch == NULL)
        return 0;
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

    if (!GetFlag(&g_folderFound))
        StopSearchWorker();
    ForgetSearchWorker();
    return GetFlag(&g_folderFound);
}

/* The copying phase behind the copying dialog (none in a silent run with
   no window): InstallAllFiles's result. */
static int RunCopyingPhase(void)
{
    HWND hCopy = NULL;
    int result;

    if (g_silent != SILENT_QUIET)
        hCopy = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_COPYING), NULL,
                                   CopyDlgProc, 0);
    /* no question comes up in a silent run to paint it (/SILENT shows it) */
    if (g_silent && hCopy != NULL)
        UpdateWindow(hCopy);
    SetCurrentDialog(hCopy);

    result = InstallAllFiles();
    if (hCopy != NULL)
        DestroyWindow(hCopy);
    return result;
}

void RunSetupPhases(HWND hWelcome)
{
    ShowWindow(hWelcome, SW_HIDE);
    if (!FindGameFolder() || RunCopyingPhase() != 0) {
        ShowWindow(hWelcome, SW_SHOWNORMAL);
        return;
    }
    DestroyWindow(hWelcome);
    PostQuitMessage(0);
}

void RunSilently(void)
{
    if (FindGameFolder())
        RunCopyingPhase();
    else
        Log("No folder: nothing installed");
}
