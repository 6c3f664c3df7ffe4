/* Replacement at the next restart of a target that is in use: delayed moves
   on Windows NT, the "rename" section of WININIT.INI on Windows 95/98. */
#include <windows.h>

#include "installer.h"
#include "../setup/state.h"
#include "../platform/file.h"
#include "../platform/text.h"

static const char kTextPathLimitA[] = "Due to a path-length limitation in Windows 95, you must delete the file ";
static const char kTextPathLimitB[] = " yourself and re-run setup.";

/* The short form must come back whole: 0 is a failure and a value of the
   buffer's size or more is the size it would have needed. */
static int ShortPathFits(DWORD length)
{
    return length != 0 && length < MAX_PATH;
}

InstallResult ScheduleReplaceAtRestart(const char *targetPath, const char *sidePath)
{
    char shortTarget[MAX_PATH];
    char shortSide[MAX_PATH];
    char iniPath[MAX_PATH];
    DWORD targetLen, sideLen, winLen;

    if (g_osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        /* The system carries these out in order of registration: the
           target goes first, then the side file takes its name. */
        MoveFileExA(targetPath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        MoveFileExA(sidePath, targetPath, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        return INSTALL_DEFERRED;
    }

    targetLen = GetShortPathNameA(targetPath, shortTarget, MAX_PATH);
    sideLen = GetShortPathNameA(sidePath, shortSide, MAX_PATH);
    if (!ShortPathFits(targetLen) || !ShortPathFits(sideLen)) {
        char text[360];
        if (JoinText(text, sizeof(text), kTextPathLimitA, targetPath, kTextPathLimitB))
            InstallerMessage(text, "Sorry!", MB_ICONEXCLAMATION);
        RemoveFile(sidePath);
        return INSTALL_FAILED;
    }

    /* A Windows directory too long for the file name is treated like a
       failed profile write: not reported. */
    winLen = GetWindowsDirectoryA(iniPath, MAX_PATH);
    if (winLen != 0 && winLen < MAX_PATH &&
        JoinText(iniPath, sizeof(iniPath), iniPath, "\\wininit.ini", NULL))
        WritePrivateProfileStringA("rename", shortTarget, shortSide, iniPath);
    return INSTALL_DEFERRED;
}
