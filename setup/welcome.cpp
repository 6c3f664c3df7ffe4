/* The welcome dialog: the program's main window. Install runs the setup,
   Cancel ends the program. */
#include <windows.h>

#include "setup.h"

INT_PTR CALLBACK WelcomeDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        /* TRUE: the focus goes to the first tab stop, Install, the default
           button; when the dialog comes back after a search or a run, the
           dialog manager gives the focus back to where it was, Install. */
        ShowWindow(hwnd, SW_SHOWNORMAL);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            DestroyWindow(hwnd);
            PostQuitMessage(0);
            return TRUE;
        case IDOK:
            RunSetupPhases(hwnd);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
