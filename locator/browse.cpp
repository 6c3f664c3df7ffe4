/* The manual choice of the game folder through the shell's folder picker. */
#include <windows.h>
#include <shlobj.h>

#include "locator.h"
#include "../setup/state.h"
#include "../platform/syslib.h"
#include "../platform/text.h"

static const char kTextNoShell[] = "Error starting dialog (Is the shell loaded?)";
static const char kTextTooLong[] =
    "The path of the folder you chose is too long for Setup.  Please choose another folder.";

int BrowseForFolder(const char *title, char *pathOut)
{
    IMalloc *shellMalloc = NULL;
    LPITEMIDLIST desktop = NULL;
    LPITEMIDLIST chosen;
    BROWSEINFOA info;
    char *displayName;
    int result = 0;

    if (SysSHGetMalloc(&shellMalloc) != NOERROR || shellMalloc == NULL) {
        MessageBoxA(NULL, kTextNoShell, "Error", MB_ICONHAND);
        return 0;
    }
    displayName = (char *)shellMalloc->Alloc(MAX_PATH);
    if (displayName == NULL) {
        MessageBoxA(NULL, kTextNoShell, "Error", MB_ICONHAND);
        shellMalloc->Release();
        return 0;
    }
    if (SysSHGetSpecialFolderLocation(CSIDL_DESKTOP, &desktop) != NOERROR) {
        shellMalloc->Free(displayName);
        MessageBoxA(NULL, kTextNoShell, "Error", MB_ICONHAND);
        shellMalloc->Release();
        return 0;
    }

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
                MessageBoxA(NULL, kTextTooLong, "Error", MB_ICONHAND);
                result = 0;
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

int BrowseForGameFolder(void)
{
    return BrowseForFolder("Find and choose your Torvane folder", g_gameFolder);
}
