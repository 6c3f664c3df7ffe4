/* The "Overwrite?" question: Yes, No or Yes to All for one existing file. */
#include <windows.h>

#include "installer.h"
#include "../setup/state.h"
#include "../platform/text.h"
#include "../resources/resource.h"

INT_PTR CALLBACK OverwriteDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    char text[360];

    switch (msg) {
    case WM_INITDIALOG:
        /* lParam is the relative name, valid during initialisation only */
        if (JoinText(text, sizeof(text), "The file ", (const char *)lParam, " already exists."))
            SendDlgItemMessageA(hwnd, IDC_OVERWRITE_TEXT, WM_SETTEXT, 0, (LPARAM)text);
        return TRUE;        /* the focus on Yes, the default button */
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:          /* Esc or the close box */
        case IDNO:
            EndDialog(hwnd, IDNO);
            return TRUE;
        case IDYES:
            EndDialog(hwnd, IDYES);
            return TRUE;
        case IDC_YESTOALL:
            EndDialog(hwnd, IDC_YESTOALL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int AskOverwrite(const char *relativeName)
{
    return (int)DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_OVERWRITE), GetCurrentDialog(),
                                OverwriteDlgProc, (LPARAM)relativeName);
}
