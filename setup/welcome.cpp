/* The welcome dialog: the program's main window. Install runs the setup,
   Cancel ends the program. */
#include <windows.h>

#include "setup.h"

INT_PTR CALLBACK WelcomeDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        ShowWindow(hwnd, SW_SHOWNORMAL);
        return FALSE;
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
