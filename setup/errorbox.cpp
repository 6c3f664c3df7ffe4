/* The message boxes of no owner: the start-up's refusals and the folder
   picker's troubles. */
#include <windows.h>

#include "setup.h"

/* Out of line: one call of the platform for them all. */
__attribute__((noinline))
int ErrorBox(const char *text, const char *caption)
{
    MessageBoxA(NULL, text, caption, MB_ICONHAND);
    return 0;
}
