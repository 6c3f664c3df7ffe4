/* The log of /LOG=: plain text with CRLF line ends, each line written to
   the file as it comes, so that a run cut short leaves what came before. */
#include <windows.h>
#include <stdarg.h>

#include "setup.h"
#include "../platform/file.h"

static HANDLE g_hLog;        /* NULL: no log */

void OpenLog(const char *path)
{
    HANDLE file;

    if (path[0] == '\0')
        return;
    file = CreateFileForWriting(path);
    if (file != INVALID_HANDLE_VALUE)
        g_hLog = file;
}

/* wvsprintfA writes at most 1024 characters with the terminator; the two
   of the line end follow. A line feed inside a message becomes a blank:
   one line an entry. The file is closed by the system when the process
   ends. */
void Log(const char *format, ...)
{
    char line[1024 + 2];
    va_list args;
    int len;

    if (g_hLog == NULL)
        return;
    va_start(args, format);
    len = wvsprintfA(line, format, args);
    va_end(args);
    if (len < 0 || len > 1023)
        len = 0;
    for (int i = 0; i < len; i++)
        if (line[i] == '\n')
            line[i] = ' ';
    line[len] = '\r';
    line[len + 1] = '\n';
    WriteFileBytes(g_hLog, line, (DWORD)len + 2);
}
