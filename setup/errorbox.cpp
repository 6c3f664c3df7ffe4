/* The messages of the setup, all through one call of the platform: the
   start-up's refusals and the folder picker's troubles (of no owner), the
   search's questions and those of the copying phase. */
#include <windows.h>

#include "setup.h"
#include "state.h"

/* Out of line: one call of the platform for them all. In a silent run the
   message goes to the log alone, with the answer the run gives it. */
__attribute__((noinline))
int ShowMessage(HWND owner, const char *text, const char *caption, UINT style, int silentAnswer)
{
    Log("Message%s: %.40s: %.600s", g_silent ? " (not shown)" : "", caption, text);
    if (g_silent)
        return silentAnswer;
    return MessageBoxA(owner, text, caption, style);
}

int ErrorBox(const char *text, const char *caption)
{
    ShowMessage(NULL, text, caption, MB_ICONHAND, IDOK);
    return 0;
}
