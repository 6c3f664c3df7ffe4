/* The installation run: every payload entry into tvdata\, the summary, the
   restart notice or question, and on a clean run the read-me and success. */
#include <windows.h>

#include "installer.h"
#include "../payload/payload.h"
#include "../setup/setup.h"
#include "../setup/state.h"
#include "../platform/file.h"
#include "../platform/text.h"

static const char kTextDeclined[] =
    "You chose not to overwrite some file(s).  The installation may not have completed successfully.";
static const char kTextFailed[] =
    "Some file(s) could not be copied do to the install program being corrupt or a disk error.  "
    "The installation may not have completed successfully.";
static const char kTextRestartNt[] =
    "Some file(s) you tried to overwrite were in use during the installation.  "
    "In order for the installation to finish, you must restart Windows.\n\nPlease restart now.";
static const char kTextRestart9x[] =
    "Some file(s) you tried to overwrite were in use during the installation.  "
    "In order for the installation to finish, you must restart Windows.\n\nDo you want to restart now?";
static const char kTextSuccess[] = "Vexmoor Skyrift has been installed successfully!";

/* The log's word for each InstallResult, from INSTALL_FAILED on. */
static const char kResults[][28] = {"failed", "installed", "deferred until the restart", "declined"};

/* The read-me in the system's own Notepad: the program by its full path in
   the Windows folder, where every Windows keeps it (a program name alone is
   looked for in the setup's own folder first), with the command line
   Notepad has always been given; its own name is written into the command.
   Like a start by name, this returns once Notepad is ready for input (or
   after 30 s), so its window is up before the success message and behind
   it. A folder too long for the command skips the read-me rather than
   start a cut-off one; a Notepad that cannot be started is not reported. */
static void OpenReadMe(const char *base)
{
    char program[MAX_PATH], command[MAX_PATH];
    STARTUPINFOA startup = {};
    PROCESS_INFORMATION process;
    UINT len;

    if (g_silent)
        return;
    len = GetWindowsDirectoryA(program, MAX_PATH);
    if (len == 0 || len >= MAX_PATH || !JoinText(program, sizeof(program), program, "\\notepad.exe", NULL) ||
        !JoinText(command, sizeof(command), "notepad \"", base, "tvdata/vxsky_readme.txt\""))
        return;
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!CreateProcessA(program, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return;
    WaitForInputIdle(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

/* One call of the platform for every message of the copying phase. */
__attribute__((noinline))
int InstallerMessage(const char *text, const char *caption, UINT style)
{
    return ShowMessage(GetCurrentDialog(), text, caption, style, IDNO);
}

int InstallAllFiles(void)
{
    char base[MAX_PATH];
    char relativeName[MAX_PATH];
    int failed = 0, deferred = 0, declined = 0;

    JoinText(base, sizeof(base), g_gameFolder, NULL, NULL);
    MakeDirectory(base);            /* normally there already */

    for (int i = 0; i < PAYLOAD_COUNT; i++) {
        InstallResult result = INSTALL_FAILED;

        if (JoinText(relativeName, sizeof(relativeName), "tvdata\\", g_payloadFiles[i], NULL))
            result = InstallPayloadFile(base, relativeName, g_payloadFiles[i]);
        Log("%s: %s", g_payloadFiles[i], kResults[result + 1]);
        if (result == INSTALL_FAILED)
            failed = 1;
        else if (result == INSTALL_DEFERRED)
            deferred = 1;
        else if (result == INSTALL_DECLINED)
            declined = 1;
    }

    /* what a silent run ends with: every entry installed, or a restart
       finishes it, or something failed (a decline cannot happen there) */
    g_exitCode = failed || declined ? ERROR_INSTALL_FAILURE : deferred ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;

    if (declined)
        InstallerMessage(kTextDeclined, "Error", MB_ICONHAND);
    if (failed)
        InstallerMessage(kTextFailed, "Error", MB_ICONHAND);

    if (deferred) {
        if (g_osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT) {
            InstallerMessage(kTextRestartNt, "Almost done...", MB_ICONINFORMATION);
        } else if (InstallerMessage(kTextRestart9x, "Almost done...",
                               MB_YESNO | MB_ICONQUESTION) == IDYES) {
            ExitWindowsEx(EWX_REBOOT, 0);
        }
        return 0;
    }
    if (failed || declined)
        return 1;

    OpenReadMe(base);
    InstallerMessage(kTextSuccess, "Done!", MB_ICONEXCLAMATION);
    return 0;
}
