/* The drive search worker: walks every fixed drive depth first looking for
   the game's executable and asks the user about each folder holding one. */
#include <windows.h>

#include "locator.h"
#include "../setup/setup.h"
#include "../setup/state.h"
#include "../platform/text.h"
#include "../resources/resource.h"

static const char kGameExe[] = "torvane.exe";
static const char kCaptionSetup[] = "Vexmoor Skyrift Setup";
static const char kTextFoundA[] = "Setup found an application named 'Torvane' in:\n\n";
static const char kTextFoundB[] = "\n\nIs this the Torvane folder?";
static const char kTextNotFound[] =
    "The Torvane folder could not be found.  You need to find it yourself.  "
    "If Torvane is not installed, you need to install it and then restart Setup";

/* The ask lock closes the gap between the worker's last look at the stop
   flag and its message box disabling the search dialog. The worker takes it
   before that look and gives it up once its box is active (from the CBT hook
   below), so the UI thread, which takes it to set the flag, either sets the
   flag before the worker looks or after the box is already up. The UI side
   serves sent messages while it waits: creating the box sends to the owner.

   It is a test-and-set lock: exchanging 1 into it and getting 0 back takes
   it, exchanging 0 gives it up. The word does not say who holds it; each
   side knows when it does (the worker by g_askLockHeld, the UI thread within
   StopSearchWorker). The order holds because the exchange is XCHG, a full
   barrier on x86: the worker's look at the flag, a load of an aligned word,
   is made after its exchange has taken the lock, and the UI thread's write
   of the flag, itself an exchange, falls between its taking and giving up.
   While one side holds the lock the other's exchanges only write 1 over 1. */
static LONG volatile g_askLock;      /* 0 free, 1 held */
static LONG g_askLockHeld;           /* worker thread only */
static HHOOK g_hAskHook;             /* worker thread only */

/* Folders whose listing the walk has started; the benchmark reads it. */
LONG g_foldersSearched;

/* PeekMessage delivers the sent messages waiting for this thread on every
   version of Windows; PM_NOREMOVE leaves any posted message in the queue. */
static void ServeSentMessages(DWORD timeout)
{
    MSG msg;

    MsgWaitForMultipleObjects(0, NULL, FALSE, timeout, QS_SENDMESSAGE);
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
}

static int TakeAskLock(void)
{
    return InterlockedExchange(&g_askLock, 1) == 0;
}

static void ReleaseAskLock(void)
{
    if (g_askLockHeld) {
        g_askLockHeld = 0;
        SetFlag(&g_askLock, 0);
    }
}

static LRESULT CALLBACK AskHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE)
        ReleaseAskLock();
    return CallNextHookEx(g_hAskHook, code, wParam, lParam);
}

/* Worker: shows a box owned by the current dialog unless the UI thread has
   asked the worker to stop. Returns 0 without a box when stopped. When
   setStop is given the worker sets the stop flag itself before its box. */
static int AskUnlessStopped(const char *text, const char *caption, UINT style,
                            int setStop, int *answer)
{
    while (!TakeAskLock())
        Sleep(0);
    g_askLockHeld = 1;

    if (GetFlag(&g_stopSearch)) {
        ReleaseAskLock();
        return 0;
    }
    if (setStop)
        SetFlag(&g_stopSearch, 1);
    *answer = ShowMessage(GetCurrentDialog(), text, caption, style, IDYES);
    ReleaseAskLock();      /* the box may have failed before activation */
    return 1;
}

void StopSearchWorker(void)
{
    while (!TakeAskLock())
        ServeSentMessages(1);
    SetFlag(&g_stopSearch, 1);
    SetFlag(&g_askLock, 0);
}

void WaitForSearchWorker(void)
{
    HANDLE h = g_hSearchThread;
    MSG msg;

    if (h == NULL)
        return;
    while (MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
}

/* "." and "..": the directory itself and its parent. */
static int IsDotEntry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

/* A sub-folder to search: a directory that is not a link. A link (a Unix
   symbolic link under Wine, a junction or directory link on NT) is passed
   over: the folder it points at is reached by its own path on its own
   drive, so each folder is searched once, a loop of links ends, and every
   question names a folder by its own path. Windows 95 and 98 never set the
   attribute. */
static int IsSubFolder(const WIN32_FIND_DATAA *entry)
{
    return (entry->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY &&
           !IsDotEntry(entry->cFileName);
}

/* The roots of the fixed drives as a handle on each tells them, known on
   NT only (Windows 95 opens no folder): a folder that is one is searched as
   that drive and not again inside another. Under Wine, Z: is the whole Unix
   tree, in which lies any other drive a player has mapped (D: to ~/Games,
   say); Wine itself keeps the prefix, and so C:, out of its listings. A
   folder not known has no links counted. */
static BY_HANDLE_FILE_INFORMATION g_driveRoots[26];

static void IdentifyFolder(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, NULL);

    info->nNumberOfLinks = 0;
    if (folder != INVALID_HANDLE_VALUE) {
        GetFileInformationByHandle(folder, info);
        CloseHandle(folder);
    }
}

/* Whether the folder at path, made at the time given, is the root of one
   of the first count drive letters. The time, which its directory entry
   tells, spares a look at every other folder. */
static int IsDriveRoot(const char *path, const FILETIME *made, int count)
{
    BY_HANDLE_FILE_INFORMATION info;

    info.nNumberOfLinks = 0;
    for (int i = 0; i < count; i++) {
        const BY_HANDLE_FILE_INFORMATION *root = &g_driveRoots[i];

        if (root->nNumberOfLinks == 0 || root->ftCreationTime.dwLowDateTime != made->dwLowDateTime ||
            root->ftCreationTime.dwHighDateTime != made->dwHighDateTime)
            continue;
        if (info.nNumberOfLinks == 0)
            IdentifyFolder(path, &info);
        if (info.nFileIndexLow == root->nFileIndexLow && info.nFileIndexHigh == root->nFileIndexHigh &&
            info.dwVolumeSerialNumber == root->dwVolumeSerialNumber && info.nNumberOfLinks != 0)
            return 1;
    }
    return 0;
}

/* The walk over one directory (a path ending in a backslash), or, without
   a path, the whole search on the worker thread. */
static void SearchFixedDrives(void);

/* The existence test takes paths of fewer than OFS_MAXPATHNAME (128)
   characters: -1 for a directory whose executable path is longer, else
   whether it holds the game's executable. */
int HoldsGame(const char *dir)
{
    char exePath[OFS_MAXPATHNAME];
    OFSTRUCT exists;

    if (!JoinText(exePath, sizeof(exePath), dir, kGameExe, NULL))
        return -1;
    return OpenFile(exePath, &exists, OF_EXIST) != HFILE_ERROR;
}

DWORD WINAPI SearchForGameFolder(LPVOID path)
{
    const char *dir = (const char *)path;
    char pattern[280];
    char text[360];              /* question text, then sub-directory path */
    WIN32_FIND_DATAA entry;
    HANDLE hFind;
    int answer, holds;

    if (dir == NULL) {
        SearchFixedDrives();
        return 0;
    }

    /* Nothing at or below a directory too long for the existence test can
       be tested, so the whole subtree is passed over. */
    holds = HoldsGame(dir);
    if (holds < 0)
        return 0;

    if (holds && JoinText(text, sizeof(text), kTextFoundA, dir, kTextFoundB)) {
        if (!AskUnlessStopped(text, kCaptionSetup, MB_YESNO | MB_ICONQUESTION, 0, &answer))
            return 0;
        if (answer == IDYES) {
            Log("Folder found: %.260s", dir);
            SetFlag(&g_folderFound, 1);
            JoinText(g_gameFolder, sizeof(g_gameFolder), dir, NULL, NULL);
            SetFlag(&g_stopSearch, 1);
            PostMessageA(GetCurrentDialog(), WM_TIMER, 0, 0);
            return 0;
        }
    }

    if (GetFlag(&g_stopSearch))
        return 0;

    if (!JoinText(pattern, sizeof(pattern), dir, "*.*", NULL))
        return 0;
    g_foldersSearched++;
    hFind = FindFirstFileA(pattern, &entry);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;

    for (;;) {
        if (IsSubFolder(&entry) && JoinText(text, sizeof(text), dir, entry.cFileName, "\\") &&
            !IsDriveRoot(text, &entry.ftCreationTime, 26))
            SearchForGameFolder(text);
        if (!FindNextFileA(hFind, &entry))
            break;
        if (GetFlag(&g_stopSearch))
            break;
    }
    FindClose(hFind);
    return 0;
}

static void SearchFixedDrives(void)
{
    char root[4] = "X:\\";
    int answer;

    g_hAskHook = SetWindowsHookExA(WH_CBT, AskHookProc, NULL, GetCurrentThreadId());

    /* every root known before the first walk, which may hold another */
    for (int i = 0; i < 26; i++) {
        root[0] = (char)('A' + i);
        g_driveRoots[i].nNumberOfLinks = 0;
        if (g_osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT && GetDriveTypeA(root) == DRIVE_FIXED)
            IdentifyFolder(root, &g_driveRoots[i]);
    }
    /* a drive whose root an earlier letter has already is not walked again */
    for (int i = 0; i < 26; i++) {
        if (GetFlag(&g_stopSearch))
            goto done;
        root[0] = (char)('A' + i);
        if (GetDriveTypeA(root) == DRIVE_FIXED && !IsDriveRoot(root, &g_driveRoots[i].ftCreationTime, i))
            SearchForGameFolder(root);
    }
    if (GetFlag(&g_stopSearch))
        goto done;

    /* Nothing accepted on any drive: say so, then press Browse on the
       dialog's behalf. */
    if (AskUnlessStopped(kTextNotFound, "Browse", MB_ICONINFORMATION, 1, &answer))
        PostMessageA(GetCurrentDialog(), WM_COMMAND, IDC_BROWSE, 0);

done:
    if (g_hAskHook != NULL) {
        UnhookWindowsHookEx(g_hAskHook);
        g_hAskHook = NULL;
    }
}
