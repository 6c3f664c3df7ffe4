/* The command line of an install with nobody at the screen: the switches
   of the common installers (each also with '-' for '/', in any case), read
   once at start-up into the setup state. */
#include <windows.h>

#include "setup.h"
#include "state.h"
#include "../platform/text.h"

static const char kHelp[] =
    "Switches:\n"
    "/S or /VERYSILENT - no window at all\n"
    "/SILENT - only the search and copying dialogs\n"
    "/D=folder - the Torvane folder (last, no quotes)\n"
    "/DIR=folder or /DIR=\"folder\" - the Torvane folder\n"
    "/LOG=file or /LOG=\"file\" - a log of the run\n"
    "/SUPPRESSMSGBOXES, /NORESTART - accepted\n\n"
    "Exit codes of a silent run:\n"
    "0 installed, 3010 installed (a restart finishes it), 1602 cancelled, 1603 failed, "
    "1618 another setup runs, 87 an unknown switch, 1150 Windows too old";

/* The names in order, each followed by its terminator; a name that ends in
   '=' takes a value. */
enum { SW_S, SW_VERYSILENT, SW_SILENT, SW_SUPPRESS, SW_NORESTART, SW_QUERY, SW_HELP, SW_D, SW_DIR, SW_LOG };
static const char kSwitches[] =
    "S\0VERYSILENT\0SILENT\0SUPPRESSMSGBOXES\0NORESTART\0?\0HELP\0D=\0DIR=\0LOG=\0";

static char g_logPath[MAX_PATH];

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

/* The switch whose name p starts with (p after its '/' or '-'), or -1;
   *end is set after the name. Letters are compared in either case. */
static int SwitchAt(const char *p, const char **end)
{
    const char *name = kSwitches;

    for (int which = 0; *name; which++, name++) {
        const char *q = p;

        while (*name && (*q | 0x20) == (*name | 0x20)) {
            q++;
            name++;
        }
        if (*name == '\0' && (q[-1] == '=' || IsBlank(*q) || *q == '\0')) {
            *end = q;
            return which;
        }
        while (*name)
            name++;
    }
    return -1;
}

/* The value at p: between quotes, up to the next blank, or with rest the
   whole rest of the line. Copied into out (MAX_PATH) when it fits, else out
   is left empty; returns where the value ends. Stepped by character. */
static const char *TakeValue(const char *p, char *out, int rest)
{
    int quoted = !rest && *p == '"';
    size_t len = 0;
    int fits = 1;

    p += quoted;
    while (*p && (rest || (quoted ? *p != '"' : !IsBlank(*p)))) {
        for (const char *next = CharNextA(p); p < next; p++) {
            if (len + 1 < MAX_PATH)
                out[len++] = *p;
            else
                fits = 0;
        }
    }
    out[fits ? len : 0] = '\0';
    return p + (quoted && *p == '"');
}

/* The game's folder as given: made a full path ending in a backslash, or
   refused (left empty) when empty or too long for it; never cut. */
static void TakeFolder(const char *value)
{
    char *filePart;
    DWORD len = value[0] ? GetFullPathNameA(value, MAX_PATH, g_gameFolder, &filePart) : 0;

    g_folderGiven = 1;
    if (len == 0 || len >= MAX_PATH) {
        g_gameFolder[0] = '\0';
        return;
    }
    if (*CharPrevA(g_gameFolder, g_gameFolder + len) != '\\')
        JoinText(g_gameFolder, MAX_PATH, g_gameFolder, "\\", NULL);
}

/* Past the program's own name, quoted or not. */
static const char *SkipProgramName(const char *p)
{
    int quoted = 0;

    while (*p && (quoted || !IsBlank(*p))) {
        if (*p == '"')
            quoted = !quoted;
        p = CharNextA(p);
    }
    return p;
}

static void LogStart(const char *arguments)
{
    OpenLog(g_logPath);
    Log("Vexmoor Skyrift Setup " SKYRIFT_VERSION);
    Log("Windows %u.%u.%u %.128s (platform %u)", (UINT)g_osVersion.dwMajorVersion,
        (UINT)g_osVersion.dwMinorVersion, (UINT)(g_osVersion.dwBuildNumber & 0xFFFF),
        g_osVersion.szCSDVersion, (UINT)g_osVersion.dwPlatformId);
    Log("Command line:%.900s", arguments);
}

int ReadCommandLine(void)
{
    const char *arguments = SkipProgramName(GetCommandLineA()), *p = arguments;
    char value[MAX_PATH];
    int unknown = 0, help = 0;

    for (;;) {
        int which = -1;

        while (IsBlank(*p))
            p++;
        if (*p == '\0')
            break;
        if (*p == '/' || *p == '-')
            which = SwitchAt(p + 1, &p);
        if (which == SW_S || which == SW_VERYSILENT)
            g_silent = SILENT_QUIET;
        else if (which == SW_SILENT)
            g_silent |= SILENT_SHOWN;
        else if (which == SW_QUERY || which == SW_HELP)
            help = 1;
        else if (which == SW_D || which == SW_DIR)
            p = TakeValue(p, value, which == SW_D), TakeFolder(value);
        else if (which == SW_LOG)
            p = TakeValue(p, g_logPath, 0);
        else if (which < 0) {
            unknown = 1;
            while (*p && !IsBlank(*p))
                p = CharNextA(p);
        }
    }

    if (unknown && g_silent) {
        g_exitCode = ERROR_INVALID_PARAMETER;
        return 0;
    }
    g_exitCode = 0;
    if (unknown || help) {
        MessageBoxA(NULL, kHelp, "Vexmoor Skyrift Setup", MB_ICONINFORMATION);
        return 0;
    }
    /* every overwrite question is answered Yes to All */
    g_yesToAll = g_silent != 0;
    g_exitCode = ERROR_INSTALL_FAILURE;
    LogStart(arguments);
    return 1;
}
