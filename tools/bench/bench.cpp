// Benchmarks: the setup's own code against the bare platform doing the same
// work, in the same run, several repetitions each, medians compared.
//
//   skyrift_bench SEARCHTREE INSTALLDIR
//   skyrift_bench --payload-of SETUP INSTALLDIR
//   skyrift_bench --layout REALFOLDERS SKIPPED LIMIT
//
// SEARCHTREE is a folder of many directories and no game in it, on a fixed
// drive; INSTALLDIR a scratch folder (ending in a backslash) on a fixed
// drive. The cancel measurement searches every fixed drive.
//
// With --payload-of, the start-up check and the installation run over the
// payload of the setup exe SETUP (mapped as the setup maps itself), and
// then SETUP itself runs as a player runs it, to C:\ where the game is
// put: its start, and its installation with a probe of its windows.
//
// With --layout, the search over every fixed drive of a prefix laid out as
// wineboot leaves it, against REALFOLDERS (as the host counts them) and a
// walk of those; SKIPPED is the one folder that is another drive's root;
// a search still going after LIMIT seconds is stopped.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <random>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "setup/state.h"
#include "payload/payload.h"
#include "locator/locator.h"
#include "platform/syslib.h"
#include "installer/installer.h"
#include "resource.h"
#include "ui.h"

namespace {

double g_tickMs;

double Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * g_tickMs;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Ratio(const char *what, const std::vector<double> &ours, const std::vector<double> &bare, const char *target)
{
    double a = Median(ours), b = Median(bare);
    printf("%-22s ours %9.3f ms   bare %9.3f ms   ratio %5.2fx   target %s   (%u runs each)\n", what, a, b,
           b > 0 ? a / b : 0.0, target, (unsigned)ours.size());
    fflush(stdout);
}

// The payload entries where they are mapped, and their sizes; 0 when one
// is missing or empty, else their total size.
size_t MapEntries(const unsigned char *bytes[PAYLOAD_COUNT], DWORD sizes[PAYLOAD_COUNT])
{
    size_t total = 0;
    for (int i = 0; i < PAYLOAD_COUNT; i++) {
        HRSRC res = FindPayloadResource(g_payloadFiles[i]);
        sizes[i] = SizeofResource(g_hInstance, res);
        bytes[i] = (const unsigned char *)LockResource(LoadResource(g_hInstance, res));
        if (!bytes[i] || sizes[i] == 0) {
            printf("no payload entry %s\n", g_payloadFiles[i]);
            return 0;
        }
        total += sizes[i];
    }
    return total;
}

// Repetitions of a measurement over total bytes: as many as asked for the
// shipped payload's size, fewer (at least 3) for larger ones.
int Repetitions(size_t total, int asked)
{
    size_t shipped = 8290618;
    return total <= shipped ? asked : std::max(3, (int)(asked * shipped / total));
}

// ------------------------------------------------------------ start-up check

volatile unsigned char g_sink;

void BenchStartupCheck()
{
    // memcpy of the same bytes: both entries, from where they are mapped
    const unsigned char *from[PAYLOAD_COUNT];
    DWORD sizes[PAYLOAD_COUNT];
    size_t total = MapEntries(from, sizes);
    if (total == 0)
        return;
    uint32_t sums[PAYLOAD_COUNT];
    for (int i = 0; i < PAYLOAD_COUNT; i++)
        sums[i] = ChecksumPayloadEntry(g_payloadFiles[i]);
    std::vector<unsigned char> copy(total, 1);

    // the path this processor takes, then the baseline of older ones and systems
    for (int baseline : {0, 1}) {
        ChooseChecksumPath(!baseline);
        std::vector<double> ours, bare;
        for (int rep = 0; rep < Repetitions(total, 31); rep++) {
            double t0 = Now();
            int ok = VerifyPayload(g_payloadFiles, sums, PAYLOAD_COUNT);
            double t1 = Now();
            for (size_t i = 0, at = 0; i < PAYLOAD_COUNT; at += sizes[i], i++)
                memcpy(copy.data() + at, from[i], sizes[i]);
            double t2 = Now();
            g_sink = copy[(size_t)rep * 7919 % total];
            if (!ok) {
                printf("start-up check: payload refused\n");
                return;
            }
            ours.push_back(t1 - t0);
            bare.push_back(t2 - t1);
        }
        if (!baseline)
            printf("start-up check over %lu bytes (VerifyPayload, both entries, against memcpy of them)\n",
                   (unsigned long)total);
        Ratio(baseline ? "  baseline" : "start-up check", ours, bare, baseline ? "(older processors)" : "<= 1.5x");
    }
    ChooseChecksumPath(1);
}

// ------------------------------------------------------------ drive search

long g_bareDirs;

// The folders under dir that are folders of their own: links passed over,
// and skipped (another drive's root) too.
void BareWalk(const std::string &dir, const std::string &skipped = "")
{
    WIN32_FIND_DATAA e;
    HANDLE h = FindFirstFileA((dir + "*.*").c_str(), &e);
    g_bareDirs++;   // an empty drive root lists nothing, not even "."
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string sub = dir + e.cFileName + "\\";
        if ((e.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY &&
            strcmp(e.cFileName, ".") && strcmp(e.cFileName, "..") && sub != skipped)
            BareWalk(sub, skipped);
    } while (FindNextFileA(h, &e));
    FindClose(h);
}

void BenchSearch(const char *tree)
{
    char dir[MAX_PATH];
    snprintf(dir, sizeof(dir), "%s", tree);
    std::vector<double> ours, bare;
    for (int rep = 0; rep < 7; rep++) {
        // alternate which side goes first, so neither always meets a
        // cache the other has just warmed
        for (int side = 0; side < 2; side++) {
            bool mine = (side == 0) == (rep % 2 == 0);
            SetFlag(&g_stopSearch, 0);
            SetFlag(&g_folderFound, 0);
            g_bareDirs = 0;
            double t0 = Now();
            if (mine)
                SearchForGameFolder(dir);
            else
                BareWalk(tree);
            double t = Now() - t0;
            (mine ? ours : bare).push_back(t);
        }
        if (GetFlag(&g_folderFound)) {
            printf("drive search: the tree holds a game folder\n");
            return;
        }
    }
    printf("drive search over %ld directories of %s (SearchForGameFolder against FindFirstFileA/FindNextFileA)\n",
           g_bareDirs, tree);
    Ratio("drive search", ours, bare, "<= 1.3x");
}

// ------------------------------------------------------------ Wine's own layout

HANDLE g_searchEnded;

// Stops a search that has not ended after ms; 1 when it did.
DWORD WINAPI StopAfter(LPVOID ms)
{
    if (WaitForSingleObject(g_searchEnded, (DWORD)(ULONG_PTR)ms) != WAIT_TIMEOUT)
        return 0;
    SetFlag(&g_stopSearch, 1);
    return 1;
}

// The whole search (every fixed drive) in the prefix as wineboot leaves it
// (tools/bed/bed.sh links on): the folders it lists against the real ones,
// which the host counted, and its time against a walk of those alone (the
// bare walk is told which folder is another drive's root). A search that
// has not ended after limit seconds is stopped.
void BenchLayout(long real, const char *skipped, int limit)
{
    std::vector<double> ours, bare;
    long listed = 0, walked = 0;
    bool stopped = false;
    g_silent = SILENT_QUIET;   // the not-found notice is not shown
    g_searchEnded = CreateEventA(NULL, TRUE, FALSE, NULL);
    for (int rep = 0; rep < 5 && !stopped; rep++) {
        for (int side = 0; side < 2; side++) {
            bool mine = (side == 0) == (rep % 2 == 0);
            SetFlag(&g_stopSearch, 0);
            g_foldersSearched = 0;
            g_bareDirs = 0;
            HANDLE watch = mine ? CreateThread(NULL, 0, StopAfter, (LPVOID)(ULONG_PTR)(limit * 1000), 0, NULL) : NULL;
            double t0 = Now();
            if (mine)
                SearchForGameFolder(NULL);
            else
                for (char root[] = "C:\\"; root[0] <= 'Z'; root[0]++)
                    if (GetDriveTypeA(root) == DRIVE_FIXED && root[0] != 'N')   // N: is M:
                        BareWalk(root, skipped);
            (mine ? ours : bare).push_back(Now() - t0);
            if (mine) {
                DWORD fired = 0;
                SetEvent(g_searchEnded);
                WaitForSingleObject(watch, INFINITE);
                GetExitCodeThread(watch, &fired);
                CloseHandle(watch);
                ResetEvent(g_searchEnded);
                stopped = fired != 0;
                listed = g_foldersSearched;
            } else {
                walked = g_bareDirs;
            }
        }
    }
    g_silent = 0;
    printf("Wine's own layout: %ld folders listed by the search%s, %ld real (%ld by the bare walk)\n", listed,
           stopped ? " before it was stopped" : "", real, walked);
    printf("%-22s %5.2f folders listed a real folder   target 1.00\n", "  folders", (double)listed / (double)real);
    if (stopped)
        printf("%-22s stopped after %d s (bare walk %.0f ms)\n", "  search", limit, Median(bare));
    else
        Ratio("  search", ours, bare, "<= 1.3x");
}

// ------------------------------------------------------------ installation

std::vector<std::string> g_blockedBoxes;

// Boxes of this thread are refused as they are made: a message would
// otherwise wait for a click inside the timed run.
LRESULT CALLBACK RefuseBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        CBT_CREATEWNDA *cw = (CBT_CREATEWNDA *)lParam;
        if (cw->lpcs->hwndParent == NULL || cw->lpcs->hwndParent == HWND_DESKTOP ||
            !(cw->lpcs->style & WS_CHILD)) {
            const char *name = cw->lpcs->lpszName;
            g_blockedBoxes.push_back(name && !IS_INTRESOURCE(name) ? name : "?");
            return 1;
        }
    }
    (void)wParam;
    return CallNextHookEx(NULL, code, wParam, lParam);
}

bool EmptyFolder(const std::string &dir)
{
    for (const char *name : {"vxmain.vdf", "vxsky_readme.txt"}) {
        std::string p = dir + name;
        if (GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(p.c_str()))
            return false;
    }
    return true;
}

// The work the installation has to do, in bare calls: write the entry to
// its temporary file, expand-copy that onto the target, delete it.
bool BareInstall(const std::string &data, const char *name, const void *bytes, DWORD size)
{
    std::string target = data + name, temp = target.substr(0, target.size() - 3) + "tmp";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    if (h == INVALID_HANDLE_VALUE)
        return false;
    WriteFile(h, bytes, size, &written, NULL);
    CloseHandle(h);
    OFSTRUCT os, od;
    INT from = LZOpenFileA((LPSTR)temp.c_str(), &os, OF_READ);
    INT to = LZOpenFileA((LPSTR)target.c_str(), &od, OF_CREATE);
    LONG copied = from >= 0 && to >= 0 ? LZCopy(from, to) : -1;
    if (from >= 0)
        LZClose(from);
    if (to >= 0)
        LZClose(to);
    DeleteFileA(temp.c_str());
    return written == size && copied == (LONG)size;
}

void BenchInstall(const std::string &root)
{
    std::string game = root + "Torvane\\", data = game + "tvdata\\";
    for (const std::string &d : {root, game, data})
        CreateDirectoryA(d.c_str(), NULL);
    const unsigned char *bytes[PAYLOAD_COUNT];
    DWORD sizes[PAYLOAD_COUNT];
    size_t total = MapEntries(bytes, sizes);
    if (total == 0 || game.size() >= sizeof(g_gameFolder))
        return;
    strcpy(g_gameFolder, game.c_str());
    g_yesToAll = 0;
    SetCurrentDialog(NULL);

    HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseBoxes, NULL, GetCurrentThreadId());
    std::vector<double> ours, bare;
    const int reps = Repetitions(total, 15);
    for (int rep = 0; rep < reps && g_blockedBoxes.empty(); rep++) {
        // alternate which side goes first
        for (int side = 0; side < 2; side++) {
            bool mine = (side == 0) == (rep % 2 == 0);
            if (!EmptyFolder(data)) {
                printf("installation: cannot empty %s\n", data.c_str());
                rep = reps;
                break;
            }
            bool ok = true;
            double t0 = Now();
            for (int i = 0; i < PAYLOAD_COUNT; i++) {
                std::string relative = std::string("tvdata\\") + g_payloadFiles[i];
                ok = ok && (mine ? InstallPayloadFile(game.c_str(), relative.c_str(), g_payloadFiles[i]) == INSTALL_OK
                                 : BareInstall(data, g_payloadFiles[i], bytes[i], sizes[i]));
            }
            double t = Now() - t0;
            if (!ok) {
                printf("installation: %s run %d did not install\n", mine ? "our" : "the bare", rep);
                rep = reps;
                break;
            }
            (mine ? ours : bare).push_back(t);
        }
    }

    // The read-me launch of a clean run, as InstallAllFiles starts it: the
    // system's Notepad by its full path, ready for input, apart from the
    // installation (each one closed again).
    char program[MAX_PATH];
    GetWindowsDirectoryA(program, MAX_PATH);
    strcat(program, "\\notepad.exe");
    std::string command = "notepad \"" + game + "tvdata/vxsky_readme.txt\"";
    std::vector<double> launch;
    for (int rep = 0; rep < 9; rep++) {
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION pi;
        double t0 = Now();
        if (!CreateProcessA(program, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            printf("read-me launch: cannot start %s\n", program);
            break;
        }
        WaitForInputIdle(pi.hProcess, 30000);
        double t = Now() - t0;
        TerminateProcess(pi.hProcess, 0);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        launch.push_back(t);
    }
    UnhookWindowsHookEx(hook);
    for (const std::string &box : g_blockedBoxes)
        printf("installation: a box came up: %s\n", box.c_str());
    g_blockedBoxes.clear();
    if (ours.empty() || bare.empty())
        return;

    printf("installation of %lu bytes into %s (InstallPayloadFile for both entries against bare "
           "CreateFileA/WriteFile of the temporary file, LZOpenFileA/LZCopy/LZClose, DeleteFileA)\n",
           (unsigned long)total, data.c_str());
    Ratio("installation", ours, bare, "<= 1.2x");
    if (!launch.empty())
        printf("%-22s %9.3f ms   (Notepad from the Windows folder, ready for input, %u runs; not part of the above)\n", "read-me launch",
               Median(launch), (unsigned)launch.size());
}

// ------------------------------------------------------------ cancel latency

bool g_browsePosted;

void Pump(double ms)
{
    double end = Now() + ms;
    MSG msg;
    for (;;) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            // the walk ran out before the Cancel: the notice's Browse is
            // not taken, the round does not count
            if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == IDC_BROWSE) {
                g_browsePosted = true;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        double left = end - Now();
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)left + 1, QS_ALLINPUT);
    }
}

void BenchCancel()
{
    std::mt19937 rng(1206);
    std::vector<double> lat;
    int rounds = 0, ranOut = 0;
    for (; rounds < 41; rounds++) {
        SetFlag(&g_stopSearch, 0);
        SetFlag(&g_folderFound, 0);
        g_searchDone = 0;
        g_browsePosted = false;
        HWND dlg = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL, SearchDlgProc, 0);
        if (!dlg) {
            printf("cancel latency: no search dialog\n");
            return;
        }
        SetCurrentDialog(dlg);
        DWORD tid;
        g_hSearchThread = CreateThread(NULL, 0, SearchForGameFolder, NULL, CREATE_SUSPENDED, &tid);
        // the not-found notice is refused at once if the walk runs out
        HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseBoxes, NULL, tid);
        ResumeThread(g_hSearchThread);
        Pump(20 + rng() % 400);

        double t0 = Now();
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        double t1 = Now();
        if (g_searchDone && !g_browsePosted && WaitForSingleObject(g_hSearchThread, 0) == WAIT_OBJECT_0)
            lat.push_back(t1 - t0);
        else
            ranOut++;
        WaitForSingleObject(g_hSearchThread, INFINITE);
        UnhookWindowsHookEx(hook);
        CloseHandle(g_hSearchThread);
        g_hSearchThread = NULL;
        DestroyWindow(dlg);
        SetCurrentDialog(NULL);
    }
    if (lat.empty()) {
        printf("cancel latency: every walk ran out before its Cancel\n");
        return;
    }
    printf("cancel latency: Cancel to the end of the search phase, %u of %d rounds cancelled mid-walk\n",
           (unsigned)lat.size(), rounds);
    printf("%-22s median %7.3f ms   max %7.3f ms   target < 50 ms at the median\n", "cancel latency", Median(lat),
           *std::max_element(lat.begin(), lat.end()));
    (void)ranOut;
}

// ------------------------------------------------------------ the real setup

// Polls for what found() gives, for up to ms.
template <typename F> HWND Await(F found, DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5))
        if (HWND w = found())
            return w;
    return NULL;
}

HWND Box(DWORD pid, const char *caption)
{
    for (HWND w : ui::Dialogs(pid))
        if (ui::IsBox(w) && ui::Caption(w) == caption)
            return w;
    return NULL;
}

// The setup run as a player runs it, the game at C:\ (the first folder the
// search looks at): from its start to the welcome dialog; Install, Yes to
// the folder, and the installation up to "Done!", during which a probe
// sends WM_NULL to the setup's window every 50 ms and times each answer;
// then from OK on "Done!" to the end of the process.
void BenchRealRun(const std::string &setup, size_t total)
{
    ui::RemoveTree("C:\\tvdata");
    ui::MakeDirs("C:\\tvdata");
    ui::Put("C:\\torvane.exe", "MZ");
    PROCESS_INFORMATION pi;
    double t0 = Now();
    if (!ui::Run("\"" + setup + "\"", NULL, &pi)) {
        printf("the setup: cannot start %s\n", setup.c_str());
        return;
    }
    const DWORD pid = pi.dwProcessId, kWait = 120000;
    HWND welcome = Await([&] { return ui::Find(pid, {"Vexmoor Skyrift Setup", IDOK}); }, kWait);
    double tWelcome = Now();
    HWND found = welcome && ui::Press(welcome, IDOK) ? Await([&] { return Box(pid, "Vexmoor Skyrift Setup"); }, kWait)
                                                     : NULL;
    std::atomic<bool> probing{true};
    std::vector<double> answers;
    double tYes = Now(), longestAt = 0;
    std::thread probe([&] {
        while (probing) {
            HWND copying = ui::Find(pid, {"Copying files...", -1});
            DWORD_PTR r;
            double t = Now();
            SendMessageTimeoutA(copying ? copying : welcome, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &r);
            answers.push_back(Now() - t);
            if (answers.back() >= *std::max_element(answers.begin(), answers.end()))
                longestAt = t - tYes;
            Sleep(50);
        }
    });
    HWND done = found && ui::Press(found, IDYES) ? Await([&] { return Box(pid, "Done!"); }, 600000) : NULL;
    double tDone = Now();
    probing = false;
    probe.join();
    double tOk = Now();
    bool ended = done && ui::Press(done, IDOK) && WaitForSingleObject(pi.hProcess, kWait) == WAIT_OBJECT_0;
    double tEnd = Now();
    if (!ended) {
        printf("the setup: did not come to its end\n%s", ui::Describe(pid).c_str());
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hProcess);
    ui::EndAll("notepad.exe");
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    GetFileAttributesExA("C:\\tvdata\\vxmain.vdf", GetFileExInfoStandard, &a);
    ui::RemoveTree("C:\\tvdata");
    DeleteFileA("C:\\torvane.exe");
    if (!ended)
        return;
    printf("%-22s %9.3f ms   (from its start to the welcome dialog)\n", "the setup's start", tWelcome - t0);
    printf("%-22s %9.3f ms   (from Yes to the folder to \"Done!\"; %lu bytes installed)\n", "the setup's copy",
           tDone - tYes, (unsigned long)(a.nFileSizeLow + 0));
    printf("%-22s %9.3f ms   longest of %u answers to WM_NULL every 50 ms (sent %.0f ms after Yes)   target < 1000 ms\n",
           "unanswered", answers.empty() ? 0.0 : *std::max_element(answers.begin(), answers.end()),
           (unsigned)answers.size(), longestAt);
    printf("%-22s %9.3f ms   (from OK on \"Done!\" to the end of the process)\n", "the setup's end", tEnd - tOk);
    (void)total;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && !(argc == 4 && !strcmp(argv[1], "--payload-of")) && !(argc == 5 && !strcmp(argv[1], "--layout"))) {
        fprintf(stderr, "usage: skyrift_bench SEARCHTREE INSTALLDIR | --payload-of SETUP INSTALLDIR | "
                        "--layout REALFOLDERS SKIPPED LIMIT\n");
        return 2;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tickMs = 1000.0 / (double)f.QuadPart;
    g_hInstance = GetModuleHandleA(NULL);
    g_osVersion.dwOSVersionInfoSize = sizeof(g_osVersion);
    GetVersionExA(&g_osVersion);
    char missing[MAX_PATH];
    if (!LoadSystemLibraries(1, missing, sizeof(missing)))
        return fprintf(stderr, "skyrift_bench: cannot load %s\n", missing), 1;
    InitCommonControls();
    CoInitialize(NULL);

    ChooseChecksumPath(1);
    if (argc == 5) {
        BenchLayout(atol(argv[2]), argv[3], atoi(argv[4]));
        return 0;
    }
    if (argc == 4) {
        // the setup mapped as an image, as it maps itself, without running it
        g_hInstance = LoadLibraryExA(argv[2], NULL, DONT_RESOLVE_DLL_REFERENCES);
        if (!g_hInstance) {
            printf("cannot map %s\n", argv[2]);
            return 1;
        }
        BenchStartupCheck();
        BenchInstall(argv[3]);
        const unsigned char *bytes[PAYLOAD_COUNT];
        DWORD sizes[PAYLOAD_COUNT];
        size_t total = MapEntries(bytes, sizes);
        FreeLibrary(g_hInstance);
        BenchRealRun(argv[2], total);
        CoUninitialize();
        return 0;
    }
    BenchStartupCheck();
    BenchSearch(argv[1]);
    BenchInstall(argv[2]);
    BenchCancel();
    CoUninitialize();
    return 0;
}
