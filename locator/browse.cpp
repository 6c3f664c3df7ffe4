/* The manual choice of the game folder through the shell's folder picker. */
#include <windows.h>
#include <shlobj.h>

#include "locator.h"
#include "../setup/setup.h"
#include "../setup/state.h"
#include "../platform/syslib.h"
#include "../platform/text.h"

static const char kTextNoShell[] = "Error starting dialog (Is the shell loaded?)";
static const char kTextTooLong[] =
    "The path of the folder you chose is too long for Setup.  Please choose another folder.";

/* The picker cannot be started: said, and what was obtained given back. */
static int NoShell(IMalloc *shellMalloc, char *displayName)
{
    if (displayName != NULL)
        shellMalloc->Free(displayName);
    ErrorBox(kTextNoShell, "Error");
    if (shellMalloc != NULL)
        shellMalloc->Release();
    return 0;
}

int BrowseForFolder(const char *title, char *pathOut)
{
    IMalloc *shellMalloc = NULL;
    LPITEMIDLIST desktop = NULL;
    LPITEMIDLIST chosen;
    BROWSEINFOA info;
    char *displayName;
    int result = 0;

    if (SysSHGetMalloc(&shellMalloc) != NOERROR || shellMalloc == NULL)
        return NoShell(NULL, NULL);
    displayName = (char *)shellMalloc->Alloc(MAX_PATH);
    if (displayName == NULL)
        return NoShell(shellMalloc, NULL);
    if (SysSHGetSpecialFolderLocation(CSIDL_DESKTOP, &desktop) != NOERROR)
        return NoShell(shellMalloc, displayName);

    info.hwndOwner = NULL;
    info.pidlRoot = desktop;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = NULL;
    info.lParam = 0;
    info.iImage = 0;

    chosen = SysSHBrowseForFolder(&info);
    if (chosen != NULL) {
        result = 1;
        if (SysSHGetPathFromIDList(chosen, displayName)) {
            size_t len = TextLength(displayName, MAX_PATH);
            /* Its last character, not its last byte: in a double-byte code
               page the second byte of a character ("\x83\x5C" in 932) can
               be the backslash's. */
            int needSlash = len == 0 || *CharPrevA(displayName, displayName + len) != '\\';

            /* The folder must keep room for its backslash; a path that has
               none is refused rather than cut short. */
            if (len >= MAX_PATH || len + (size_t)needSlash >= MAX_PATH) {
                result = ErrorBox(kTextTooLong, "Error");
            } else {
                JoinText(pathOut, MAX_PATH, displayName, needSlash ? "\\" : NULL, NULL);
            }
        }
        shellMalloc->Free(chosen);
    }

    shellMalloc->Free(desktop);
    shellMalloc->Free(displayName);
    shellMalloc->Release();
    return result;
}

/* No picker in a silent run: no folder. */
int BrowseForGameFolder(void)
{
    int picked;

    if (g_silent) {
        Log("Folder picker (not shown): no folder");
        return 0;
    }
    picked = BrowseForFolder("Find and choose your Torvane folder", g_gameFolder);
    if (picked)
        Log("Folder picked: %.260s", g_gameFolder);
    return picked;
}
