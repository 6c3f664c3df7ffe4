/* Installing one payload entry: temporary file from the mapped resource,
   probe of the target, then the expand-copy onto the target or, when the
   target is in use, onto a side file replaced at the next restart. */
#include <windows.h>
#include <lzexpand.h>
#include <stdio.h>
#include <string.h>

#include "installer.h"
#include "../payload/payload.h"
#include "../setup/state.h"
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
   temporary and side paths have the target's length. */
static int BuildPaths(const char *folder, const char *relativeName,
                      char *target, char *temp, char *side, size_t cap)
{
    size_t len;

    if (!JoinText(target, cap, folder, relativeName, NULL))
        return 0;
    len = strlen(target);
    if (len >= OFS_MAXPATHNAME || len < 3)
        return 0;
    memcpy(temp, target, len - 3);
    memcpy(temp + len - 3, "tmp", 4);
    memcpy(side, target, len - 3);
    memcpy(side + len - 3, "000", 4);
    return 1;
}

static int SameLastChar(const char *a, const char *b)
{
    size_t la = strlen(a), lb = strlen(b);

    return la > 0 && lb > 0 && a[la - 1] == b[lb - 1];
}

static int FileExists(const char *path)
{
    OFSTRUCT of;

    return OpenFile(path, &of, OF_EXIST) != HFILE_ERROR;
}

InstallResult InstallPayloadFile(const char *folder, const char *relativeName, const char *fileName)
{
    char target[280], temp[280], side[280];
    char text[360];
    const char *dest;
    FILE *file;
    HRSRC hRes;
    HGLOBAL hData;
    const void *bytes;
    DWORD size;
    OFSTRUCT ofSource, ofDest;
    INT source, destFile;
    LONG copied;

    if (!BuildPaths(folder, relativeName, target, temp, side, sizeof(target))) {
        if (JoinText(text, sizeof(text), kTextTooLongA, relativeName, kTextTooLongB))
            MessageBoxA(GetCurrentDialog(), text, "Error", MB_ICONHAND);
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

    while ((file = fopen(temp, "wb")) == NULL) {
        if (MessageBoxA(GetCurrentDialog(), kTextTempFile, "Error", MB_YESNO | MB_ICONQUESTION) == IDNO)
            return INSTALL_FAILED;
    }

    hRes = FindPayloadResource(fileName);
    hData = LoadResource(g_hInstance, hRes);
    size = SizeofResource(g_hInstance, hRes);
    bytes = LockResource(hData);
    if (bytes != NULL && size > 0)
        fwrite(bytes, 1, size, file);
    fclose(file);

    /* Probe: a target that cannot be opened for writing is in use. Opening
       it empties it; its old content is not brought back later. */
    file = fopen(target, "wb");
    if (file != NULL) {
        fclose(file);
        dest = target;
    } else {
        dest = side;
    }

    FreeResource(hData);

    source = LZOpenFileA(temp, &ofSource, OF_READ);
    remove(target);                  /* fails, harmlessly, when in use */

    /* When it cannot create the name it was given, the expand-copy may
       create the compressed-file name instead (last character '_'); a
       file made under any other name than the destination is not ours. */
    destFile = LZOpenFileA((LPSTR)dest, &ofDest, OF_CREATE);
    if (destFile >= 0 && !SameLastChar(ofDest.szPathName, dest)) {
        LZClose(destFile);
        remove(ofDest.szPathName);
        destFile = -1;
    }
    if (destFile < 0) {
        if (source >= 0)
            LZClose(source);
        remove(temp);
        MessageBoxA(GetCurrentDialog(), dest, "Create Failed", MB_OK);
        return INSTALL_FAILED;
    }

    copied = LZCopy(source, destFile);
    if (source >= 0)
        LZClose(source);
    LZClose(destFile);
    remove(temp);

    if (copied <= 0) {
        if (JoinText(text, sizeof(text), kTextDiskErrorA, target, kTextDiskErrorB))
            MessageBoxA(GetCurrentDialog(), text, "Error", MB_ICONHAND);
        remove(dest);
        return INSTALL_FAILED;
    }

    if (dest == target)
        return INSTALL_OK;
    return ScheduleReplaceAtRestart(target, side);
}
