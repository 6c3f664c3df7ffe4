/* Entry point: platform and payload checks, then the welcome dialog and the
   process's message loop. */
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "setup.h"
#include "state.h"
#include "../payload/payload.h"
#include "../resources/resource.h"

static const char kTextOldPlatform[] =
    "You need at least Windows 95 or Windows NT 4.0 to run Torvane as well as this installer.";
static const char kTextCorrupt[] =
    "This setup program is corrupt, probably by a bad or aborted download.  Please download it again.";

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    HWND hWelcome;
    MSG msg;
    BOOL got;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;

    /* 148 is the size of OSVERSIONINFOA; a failed query leaves the record
       zeroed, which reads as major version 0 and is refused below. */
    g_osVersion.dwOSVersionInfoSize = 148;
    GetVersionExA(&g_osVersion);
    if (g_osVersion.dwMajorVersion < 4) {
        MessageBoxA(NULL, kTextOldPlatform, "Sorry!", MB_ICONHAND);
        return 0;
    }
    if (AnotherSetupRuns())
        return 0;

    g_checksumBaseline = !ChecksumVectorAllowed(&g_osVersion);

    g_hInstance = hInstance;
    if (!VerifyPayload(g_payloadFiles, g_payloadChecksums, PAYLOAD_COUNT)) {
        MessageBoxA(NULL, kTextCorrupt, "Corrupt Setup", MB_ICONHAND);
        return 0;
    }

    InitCommonControls();           /* registers "SysAnimate32" */
    CoInitialize(NULL);             /* the shell folder picker needs COM */

    g_hSearchThread = NULL;
    g_gameFolder[0] = '\0';

    hWelcome = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_WELCOME), NULL,
                                  WelcomeDlgProc, 0);
    SetCurrentDialog(hWelcome);

    /* Without its main window the loop below would wait for ever. The loop
       runs while the welcome dialog is up (the search phase has a loop of
       its own); once the welcome dialog has been destroyed, nothing is a
       child of it and every message is dispatched. */
    if (hWelcome != NULL) {
        while ((got = GetMessageA(&msg, NULL, 0, 0)) != 0 && got != -1)
            DispatchToDialog(hWelcome, &msg);
    }

    if (g_hSearchThread != NULL) {
        CloseHandle(g_hSearchThread);
        g_hSearchThread = NULL;
    }
    CoUninitialize();
    return 0;
}
