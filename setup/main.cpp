/* Entry point: platform and payload checks, then the welcome dialog and the
   process's message loop. */
#include <windows.h>

#include "setup.h"
#include "state.h"
#include "../payload/payload.h"
#include "../platform/syslib.h"
#include "../platform/text.h"
#include "../resources/resource.h"

static const char kTextOldPlatform[] =
    "You need at least Windows 95 or Windows NT 4.0 to run Torvane as well as this installer.";
static const char kTextNoLibraryA[] = "Setup could not load ";
static const char kTextNoLibraryB[] = ", a part of Windows that it needs.";
static const char kTextCorrupt[] =
    "This setup program is corrupt, probably by a bad or aborted download.  Please download it again.";

/* A missing system library is said once, and the setup ends before
   anything is shown or written. */
static void SayLibraryMissing(const char *path)
{
    char text[360];

    if (JoinText(text, sizeof(text), kTextNoLibraryA, path, kTextNoLibraryB))
        ErrorBox(text, "Error");
}

/* Everything before the first window, in this order: 1 when the setup may
   go on, 0 when it is to end (having said why, where it says anything). */
static int StartUpChecks(HINSTANCE hInstance)
{
    char missing[MAX_PATH];
    int loaded;

    /* Before anything can load a library: the program's own folder, where
       anyone may have put files, is no place to load one from. A library
       that is missing is said once the platform has passed. */
    loaded = LoadSystemLibraries(RestrictLibrarySearch(), missing, sizeof(missing));

    /* 148 is the size of OSVERSIONINFOA; a failed query leaves the record
       zeroed, which reads as major version 0 and is refused below. */
    g_osVersion.dwOSVersionInfoSize = 148;
    GetVersionExA(&g_osVersion);
    if (!ReadCommandLine())
        return 0;
    if (g_osVersion.dwMajorVersion < 4) {
        g_exitCode = ERROR_OLD_WIN_VERSION;
        return ErrorBox(kTextOldPlatform, "Sorry!");
    }
    if (AnotherSetupRuns()) {
        g_exitCode = ERROR_INSTALL_ALREADY_RUNNING;
        return 0;
    }

    if (!loaded) {
        SayLibraryMissing(missing);
        return 0;
    }

    ChooseChecksumPath(ChecksumVectorAllowed(&g_osVersion));

    g_hInstance = hInstance;
    if (!VerifyPayload(g_payloadFiles, g_payloadChecksums, PAYLOAD_COUNT))
        return ErrorBox(kTextCorrupt, "Corrupt Setup");
    return 1;
}

/* The welcome dialog and the process's message loop, until the quit
   message. */
static void RunWelcome(void)
{
    HWND hWelcome;
    MSG msg;
    BOOL got;

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
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    int code;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;

    /* g_gameFolder starts empty, or holds the folder the command line gave */
    if (StartUpChecks(hInstance)) {
        SysInitCommonControls();        /* registers "SysAnimate32" */
        SysCoInitialize();              /* the shell folder picker needs COM */

        g_hSearchThread = NULL;
        if (g_silent)
            RunSilently();
        else
            RunWelcome();

        if (g_hSearchThread != NULL) {
            CloseHandle(g_hSearchThread);
            g_hSearchThread = NULL;
        }
        SysCoUninitialize();
    }
    /* a player's run ends with 0 whatever happened */
    code = g_silent ? g_exitCode : 0;
    Log("Exit code: %d", code);
    return code;
}
