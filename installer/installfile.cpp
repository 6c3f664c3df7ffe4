/* Installing one payload entry: temporary file from the mapped resource,
   probe of the target, then the expand-copy onto the target or, when the
   target is in use, onto a side file replaced at the next restart. Both
   copies go in pieces, and after every mebibyte the setup's windows are
   served, so that they answer however large the entry is. */
#include <windows.h>

#include "installer.h"
#include "../payload/payload.h"
#include "../setup/state.h"
#include "../platform/file.h"
#include "../platform/syslib.h"
#include "../platform/text.h"
#include "../resources/resource.h"

static const char kTextTempFile[] = "Could not make a temp file.  Try again?";
static const char kTextDiskErrorA[] = "The file, ";
static const char kTextDiskErrorB[] =
    ", could not be copied due to a disk error.  Perhaps you are out of disk space?";
static const char kTextTooLongA[] = "The file, ";
static const char kTextTooLongB[] =
    ", could not be copied because the path of the Torvane folder is too long.";

/* Derived paths of one entry. The existence test and the expand-copy open
   files through an OFSTRUCT, whose path holds at most OFS_MAXPATHNAME (128)
   characters with its terminator; they fail on anything longer. A target
   they cannot take is refused here, before anything is written. The
   temporary and side paths are no longer than the target. */
static int BuildPaths(const char *folder, const char *relativeName,
                      char *target, char *temp, char *side, char *dir, size_t cap)
{
    size_t len;
    char *stemEnd, *name = temp;

    if (!JoinText(target, cap, folder, relativeName, NULL))
        return 0;
    len = TextLength(target, cap);
    if (len >= OFS_MAXPATHNAME || len < 3)
        return 0;
    /* the stem: the target without its last three characters, which take
       one or two bytes each in a double-byte code page */
    JoinText(temp, cap, target, NULL, NULL);
    stemEnd = temp + len;
    for (int i = 0; i < 3; i++)
        stemEnd = CharPrevA(temp, stemEnd);
    *stemEnd = '\0';
    /* the folder they are in: up to the last backslash, stepped by character */
    for (char *p = temp; *p; p = CharNextA(p))
        name = *p == '\\' ? p + 1 : name;
    JoinText(dir, cap, temp, NULL, NULL);
    dir[name - temp] = '\0';
    JoinText(side, cap, temp, "000", NULL);
    JoinText(temp, cap, temp, "tmp", NULL);
    return 1;
}

/* A new, empty file of the setup's own at path, open for writing, and never
   a file reached through a link someone put there. A free name is made
   with CREATE_NEW, which fails rather than follow a link that appears at
   it in between. What stands at a name that is not free (a file of an
   earlier run, or a link: under Wine a link to a file looks like the file,
   and deleting it deletes that file) is not opened but replaced: a new file
   made beside it, under a name of its own and held open, is renamed over
   it, which replaces a link as a link. Windows 95 and 98 have no links and
   no such rename; there the name is freed by deleting what stands at it. */
static HANDLE CreateOwnFile(const char *path, const char *dir)
{
    char fresh[MAX_PATH];
    HANDLE file = CreateNewFile(path);

    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
        return file;
    if (g_osVersion.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        RemoveFile(path);
        return CreateNewFile(path);
    }
    file = CreateFreshFile(dir, fresh);
    if (file != INVALID_HANDLE_VALUE && !RenameOver(fresh, path)) {
        CloseFile(file);
        RemoveFile(fresh);
        file = INVALID_HANDLE_VALUE;
    }
    return file;
}

/* Whether the file at path, which exists, is reached through a link: the
   path it names itself by is not the one it was opened by (or it cannot
   say). Windows before Vista has no link to a file, nor the call. */
static int ReachedThroughLink(const char *path)
{
    typedef DWORD(WINAPI * FinalPathProc)(HANDLE, LPSTR, DWORD, DWORD);
    FinalPathProc finalPath = (FinalPathProc)(void (*)(void))KernelProc("GetFinalPathNameByHandleA");
    char named[MAX_PATH + 4];   /* "\\?\" and the path */
    HANDLE file;
    DWORD len;

    if (finalPath == NULL)
        return 0;
    file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, NULL);   /* a folder too */
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    len = finalPath(file, named, sizeof(named), 0);
    CloseFile(file);
    return len < 4 || len >= sizeof(named) || lstrcmpiA(named + 4, path) != 0;
}

/* A piece is a few milliseconds of work on a disk of the 1990s. */
static char g_piece[INSTALL_PIECE_SIZE];

/* Takes what waits in the queue from first to last: dispatched when
   dispatch is set, else dropped. Out of line, so that the four ranges
   below share one call of each platform function. */
__attribute__((noinline))
static void TakeMessages(UINT first, UINT last, int dispatch)
{
    MSG msg;

    while (PeekMessageA(&msg, NULL, first, last, PM_REMOVE))
        if (dispatch)
            DispatchMessageA(&msg);
}

/* After a piece, when the bytes copied went from before to after past a
   multiple of INSTALL_SERVE_BYTES (a look at the queue costs more than a
   piece's copy on today's machines): what waits for the setup's windows
   is served, as in a window that answers, but nothing the player does can
   start anything. Any look at the queue delivers the messages sent to them
   (the system's probe of a hung window among them); paint is dispatched;
   keys and clicks that came during the copy are dropped, so that none of
   them reaches the next question and answers it unread. Posted messages
   wait for the next message loop, as they always did. */
static void ServeWindows(DWORD before, DWORD after)
{
    if (((before ^ after) & ~(DWORD)(INSTALL_SERVE_BYTES - 1)) == 0)
        return;
    TakeMessages(WM_KEYFIRST, WM_KEYLAST, 0);
    TakeMessages(WM_MOUSEFIRST, WM_MOUSELAST, 0);
    TakeMessages(WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK, 0);
    TakeMessages(WM_PAINT, WM_PAINT, 1);
}

static int FileExists(const char *path)
{
    OFSTRUCT of;

    return OpenFile(path, &of, OF_EXIST) != HFILE_ERROR;
}

/* The disk-error message, which names the target also when the copy was to
   go beside it. */
static void SayDiskError(const char *target)
{
    char text[360];

    if (JoinText(text, sizeof(text), kTextDiskErrorA, target, kTextDiskErrorB))
        InstallerMessage(text, "Error", MB_ICONHAND);
}

static DWORD Clusters(DWORD bytes, DWORD cluster)
{
    return bytes / cluster + (bytes % cluster != 0);
}

/* Whether the copy of size bytes onto the target fits on its drive, asked
   before the probe empties the target, so that an install that cannot fit
   leaves the old file whole. The copy has the room left beside the
   temporary file, and what emptying the target frees: nothing when the
   target cannot be opened for writing (in use: the copy goes beside it)
   or is absent. Counted in whole clusters. A drive that cannot say how
   much room it has is tried; so is a path without a drive letter but the
   current folder's. Early Windows 95 answers at most 2 GB, more than any
   entry the build lets through. */
static int CopyFits(const char *target, DWORD size)
{
    char root[4] = {target[0], ':', '\\', '\0'};
    DWORD cluster, freeClusters, need, old = WritableFileSize(target);

    if (target[0] == '\\' || !DriveRoom(target[1] == ':' ? root : NULL, &cluster, &freeClusters))
        return 1;
    need = Clusters(size, cluster);
    return need <= freeClusters || need - freeClusters <= Clusters(old, cluster);
}

/* The entry's bytes into the temporary file, asking again while it cannot
   be made; 0 when the user gives up, or when the file cannot be written
   whole (a piece written short, a failed write or close: a full disk) or
   the copy would not fit. Then the temporary file goes, the disk error is
   said, and the target has not been touched. */
static int WriteTempFile(const char *temp, const char *target, const char *dir, const char *fileName)
{
    HANDLE file;
    HRSRC hRes;
    HGLOBAL hData;
    const char *bytes;
    DWORD size, done = 0;
    int whole = 1;

    while ((file = CreateOwnFile(temp, dir)) == INVALID_HANDLE_VALUE) {
        if (InstallerMessage(kTextTempFile, "Error", MB_YESNO | MB_ICONQUESTION) == IDNO)
            return 0;
    }

    hRes = FindPayloadResource(fileName);
    hData = LoadResource(g_hInstance, hRes);
    size = SizeofResource(g_hInstance, hRes);
    bytes = (const char *)LockResource(hData);
    if (bytes == NULL)
        size = 0;
    while (size > 0) {
        DWORD n = size < INSTALL_PIECE_SIZE ? size : INSTALL_PIECE_SIZE;
        if (!(whole = WriteFileBytes(file, bytes, n)))
            break;
        bytes += n;
        size -= n;
        done += n;
        ServeWindows(done - n, done);
    }
    whole = CloseFile(file) && whole;
    FreeResource(hData);
    if (whole && CopyFits(target, done))
        return 1;
    RemoveFile(temp);
    SayDiskError(target);
    return 0;
}

/* The probe, on a file of the target's own: the destination, and *file
   open for writing on it when it is the target. The target is made anew
   (its old content is not brought back later); one that cannot be replaced
   is emptied where it stands (its holder shares writing), else it is in
   use and the copy goes beside it. A target that can be neither replaced
   nor left, being reached through a link (whose file someone holds), is
   the destination with no file: it cannot be made. */
static const char *ChooseDestination(const char *target, const char *side, const char *dir, HANDLE *file)
{
    *file = CreateOwnFile(target, dir);
    if (*file == INVALID_HANDLE_VALUE && !ReachedThroughLink(target)) {
        *file = CreateFileForWriting(target);
        if (*file == INVALID_HANDLE_VALUE)
            return side;
    }
    return target;
}

/* The expand-copy of an opened source onto an opened destination, piece by
   piece: LZRead expands a compressed source and reads any other as it is.
   The bytes written, or a negative LZERROR_ code; a piece written short is
   a failure (a full disk). */
static LONG CopyPieces(INT source, HANDLE dest)
{
    LONG copied = 0;
    INT n;

    while ((n = SysLZRead(source, g_piece, INSTALL_PIECE_SIZE)) > 0) {
        if (!WriteFileBytes(dest, g_piece, (DWORD)n))
            return LZERROR_WRITE;
        copied += n;
        ServeWindows((DWORD)(copied - n), (DWORD)copied);
    }
    return n < 0 ? n : copied;
}

/* The temporary file expand-copied onto the destination (the side file
   made here, of its own), then deleted. A failed copy deletes what it
   wrote. */
static InstallResult ExpandCopy(const char *temp, const char *target, const char *dest, const char *dir,
                                HANDLE destFile)
{
    OFSTRUCT ofSource;
    INT source;
    LONG copied;

    source = SysLZOpenFile(temp, &ofSource, OF_READ);
    if (dest != target)
        destFile = CreateOwnFile(dest, dir);
    if (destFile == INVALID_HANDLE_VALUE) {
        if (source >= 0)
            SysLZClose(source);
        RemoveFile(temp);
        InstallerMessage(dest, "Create Failed", MB_OK);
        return INSTALL_FAILED;
    }

    copied = CopyPieces(source, destFile);   /* fails on a source not opened */
    if (source >= 0)
        SysLZClose(source);
    if (!CloseFile(destFile))
        copied = LZERROR_WRITE;
    RemoveFile(temp);

    if (copied <= 0) {
        SayDiskError(target);
        RemoveFile(dest);
        return INSTALL_FAILED;
    }
    return INSTALL_OK;
}

InstallResult InstallPayloadFile(const char *folder, const char *relativeName, const char *fileName)
{
    char target[280], temp[280], side[280], dir[280];
    const char *dest;
    HANDLE destFile;
    InstallResult result;

    if (!BuildPaths(folder, relativeName, target, temp, side, dir, sizeof(target))) {
        char text[360];
        if (JoinText(text, sizeof(text), kTextTooLongA, relativeName, kTextTooLongB))
            InstallerMessage(text, "Error", MB_ICONHAND);
        return INSTALL_FAILED;
    }

    /* A target that exists but cannot even be opened counts as absent. */
    if (!g_yesToAll && FileExists(target)) {
        int answer = AskOverwrite(relativeName);

        UpdateWindow(GetCurrentDialog());
        if (answer == IDNO)
            return INSTALL_DECLINED;
        if (answer == IDC_YESTOALL)
            g_yesToAll = 1;
    }

    if (!WriteTempFile(temp, target, dir, fileName))
        return INSTALL_FAILED;
    dest = ChooseDestination(target, side, dir, &destFile);
    result = ExpandCopy(temp, target, dest, dir, destFile);
    if (result != INSTALL_OK || dest == target)
        return result;
    return ScheduleReplaceAtRestart(target, side);
}
