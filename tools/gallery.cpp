// Takes a picture of every window the setup can show, as a player meets it:
// what `tools/run.sh --gallery` puts in docs/screenshots/.
//
//   skyrift_gallery.exe SETUP OUTDIR           every window, OUTDIR\<name>.bmp
//   skyrift_gallery.exe SETUP OUTDIR welcome   the welcome dialog only, then Cancel
//
// Each scenario runs a copy of SETUP of its own (with Notepad's stand-in as
// the system's and the Windows version Wine reports for it), on game folders
// made for it on D:, F: and H:. A picture shows the window, active, with the
// setup's windows behind it where they show; a dialog that a question covers
// is pictured with the question moved aside. The two messages that cannot be
// met from outside (a shell that fails, and the 95/98 path-length limit,
// since Wine gives every existing file a short name) come from the setup's
// own code, linked into this tool, driven in this process. Every text of a
// message pictured is measured against its control, in the font it is drawn
// in (the system's message font, or its own in this process): at the DPI
// the tool runs at, 96 or 120 for Large Fonts (tools/run.sh --gallery takes
// both). Prints a line per picture; returns 0 when every picture was taken
// and every text measured fits.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "installer/installer.h"
#include "locator/locator.h"
#include "platform/syslib.h"
#include "resources/resource.h"
#include "setup/setup.h"
#include "setup/state.h"
#include "ui.h"

namespace {

const DWORD kWait = 20000;
const char kSetup[] = "Vexmoor Skyrift Setup";
std::string g_setupExe, g_out, g_cutOff;
int g_pictures, g_measured, g_clipped;

bool Put(const std::string &path, const char *text = "MZ") { return ui::Put(path, text); }

// ------------------------------------------------------------------ pictures

// Saves what the screen shows of r as a 24-bit BMP file.
bool SaveScreen(const RECT &r, const std::string &path)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};   // bottom-up, as BMP files are
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    bool ok = bmp && BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(mem, old);
    DWORD size = (((DWORD)w * 3 + 3) & ~3u) * (DWORD)h;
    BITMAPFILEHEADER fh = {0x4D42, 0, 0, 0, sizeof(fh) + sizeof(bi.bmiHeader)};
    fh.bfSize = fh.bfOffBits + size;
    FILE *f = ok ? fopen(path.c_str(), "wb") : NULL;
    ok = f && fwrite(&fh, sizeof(fh), 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
         fwrite(bits, 1, size, f) == size;
    ok = f && fclose(f) == 0 && ok;
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return ok;
}

// What the screen shows of r, as 32-bit pixels row by row from the top.
std::vector<DWORD> ScreenPixels(const RECT &r)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<DWORD> px((size_t)w * h);
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(mem, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return px;
}

// The static texts of dlg drawn up to their control's right edge on screen (a line cut off), joined by '|'.
std::string CutOff(HWND dlg)
{
    std::string texts;
    for (auto &[c, text] : ui::StaticTexts(dlg)) {
        RECT r;
        if (!IsWindowVisible(c) || !GetClientRect(c, &r) || r.right < 2)
            continue;
        MapWindowPoints(c, NULL, (POINT *)&r, 2);
        std::vector<DWORD> px = ScreenPixels(r);
        // the background is the colour most of the control shows
        std::map<DWORD, int> colours;
        for (DWORD p : px)
            colours[p & 0xFFFFFF]++;
        DWORD background = std::max_element(colours.begin(), colours.end(), [](auto &a, auto &b) { return a.second < b.second; })->first;
        bool cut = false;
        for (size_t i = r.right - r.left - 1; i < px.size() && !cut; i += r.right - r.left)
            cut = (px[i] & 0xFFFFFF) != background;
        if (cut)
            texts += (texts.empty() ? "" : "|") + text;
    }
    return texts;
}

// The system's message font, which message boxes draw in.
HFONT MessageFont()
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    return CreateFontIndirectA(&metrics.lfMessageFont);
}

// Whether w's caption is drawn as the active window's: its colour near the
// right end, where the caption's gradient ends.
bool LooksActive(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    HDC screen = GetDC(NULL);
    COLORREF c = GetPixel(screen, r.right - 30, r.top + 8);
    ReleaseDC(NULL, screen);
    auto off = [c](int element) {
        COLORREF s = GetSysColor(element);
        return abs(GetRValue(c) - GetRValue(s)) + abs(GetGValue(c) - GetGValue(s)) + abs(GetBValue(c) - GetBValue(s));
    };
    return off(COLOR_GRADIENTACTIVECAPTION) < off(COLOR_GRADIENTINACTIVECAPTION);
}

// Whether w is in front, drawn as the active window.
bool Ready(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    HWND at = WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    return (at == w || IsChild(w, at)) && LooksActive(w);
}

// A picture of window w (with the other dialogs of its program behind it,
// when asked), w active as for a player who started the setup, once they
// have painted themselves: what the screen shows of them stays the same for
// a moment. A clip that plays never stays the same: a dialog with one is
// given a fixed moment.
bool Picture(const std::string &name, HWND w, bool behind = false)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    std::vector<HWND> windows = {w};
    RECT all = {}, r;
    GetWindowRect(w, &all);
    // a window behind that shows no more than a sliver at w's edges is left out
    for (HWND other : behind ? ui::Dialogs(pid) : std::vector<HWND>())
        if (other != w && GetWindowRect(other, &r) &&
            (r.left < all.left - 16 || r.top < all.top - 16 || r.right > all.right + 16 || r.bottom > all.bottom + 16))
            windows.push_back(other);
    bool plays = false;
    for (HWND each : windows) {
        GetWindowRect(each, &r);
        UnionRect(&all, &all, &r);
        plays = plays || GetDlgItem(each, IDC_ANIMATE);
    }
    auto settle = [&] {
        for (unsigned i = 0, now = 0, before = 0; i < (plays ? 3u : 12u); i++, before = now, Sleep(150)) {
            now = 0;
            for (HWND each : windows)
                now = now * 31 + ui::Pixels(each);
            if (i > 1 && now == before)
                break;
        }
    };
    settle();
    // Wine does not always draw a window that comes up in another process as
    // the active one, and now and then puts a dialog above the message box it
    // owns: a window of this tool is brought to the front first, then w,
    // until w looks active and nothing covers it.
    static HWND stage = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, -10, -10, 1, 1, NULL,
                                        NULL, NULL, NULL);
    for (int i = 0; i < 20 && !Ready(w); i++, settle()) {
        SetForegroundWindow(stage);
        SetForegroundWindow(w);
        SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    if (!Ready(w))
        return fprintf(stderr, "gallery: %s: \"%s\" is covered or not drawn active\n", name.c_str(), ui::Caption(w).c_str()), false;
    std::string what;
    for (HWND each : windows)
        what += (what.empty() ? "" : " over ") + ("\"" + ui::Caption(each) + "\"");
    if (!SaveScreen(all, g_out + name + ".bmp"))
        return fprintf(stderr, "gallery: cannot save %s\n", name.c_str()), false;
    // a message box of the setup draws its text in the message font; one of
    // this tool, and any window of it, in the font it holds
    if (pid == GetCurrentProcessId() || ui::IsBox(w)) {
        static HFONT message = MessageFont();
        std::string why, clipped = ui::Clipped(w, pid == GetCurrentProcessId() ? NULL : message, &why);
        g_measured++;
        if (!clipped.empty())
            g_clipped++, fprintf(stderr, "gallery: %s: a text does not fit:%s\n", name.c_str(), why.c_str());
    }
    // and what the picture shows: a line drawn up to its control's edge (a
    // message box sizes its text's control to the text, so only measured)
    std::string cut = ui::IsBox(w) ? "" : CutOff(w);
    if (!cut.empty())
        g_cutOff += "\n  " + name + ": \"" + cut + "\"";
    printf("picture %-15s %s\n", name.c_str(), what.c_str());
    fflush(stdout);
    return ++g_pictures, true;
}

// Presses a button and waits until the window has gone or is covered.
bool Answer(HWND w, int id)
{
    if (ui::Close(w, id, kWait))
        return true;
    return fprintf(stderr, "gallery: \"%s\" stays after the press\n%s", ui::Caption(w).c_str(), ui::Describe(0).c_str()), false;
}

// A window of process pid with this caption and control (a message box for
// kBoxText), enabled and not one of those already answered; NULL (and what
// is on screen) when none comes.
HWND Await(DWORD pid, const ui::Sel &sel, const std::vector<HWND> &answered = {})
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < kWait; Sleep(20))
        for (HWND w : ui::Dialogs(pid))
            if (ui::Is(w, sel) && IsWindowEnabled(w) && (sel.id != ui::kBoxText || ui::IsBox(w)) &&
                std::find(answered.begin(), answered.end(), w) == answered.end())
                return w;
    fprintf(stderr, "gallery: no \"%s\" came\n%s", sel.caption.c_str(), ui::Describe(0).c_str());
    return NULL;
}

// ------------------------------------------------------------------ a run of the setup

const ui::Sel kWelcome{kSetup, IDOK}, kSearch{kSetup, IDC_ANIMATE}, kCopying{"Copying files...", -1},
    kOverwrite{"Overwrite?", IDC_YESTOALL}, kPicker{"Browse for Folder", IDOK};
const std::string kGame = "F:\\Games\\Torvane\\", kData = kGame + "tvdata\\";

// A copy of the setup in a folder of its own on G:, told the Windows
// version, started on game drives emptied for it.
struct Setup {
    std::string name, dir, exe;
    PROCESS_INFORMATION proc = {};
    std::vector<HANDLE> held;
    std::vector<HWND> answered;

    explicit Setup(const std::string &name, const char *version = "winxp")
        : name(name), dir("G:\\gallery\\" + name + "\\"), exe(dir + name + ".exe")
    {
        for (const char *drive : {"D:\\Games", "D:\\Long", "F:", "H:"})
            ui::RemoveTree(drive);
        ui::MakeDirs(dir);
        CopyFileA(g_setupExe.c_str(), exe.c_str(), FALSE);
        ui::EndAll("notepad.exe");
        CopyFileA("X:\\bin\\tests\\notepad.exe", "C:\\windows\\notepad.exe", FALSE);
        ui::ReportVersion(name + ".exe", version);
    }
    ~Setup()
    {
        TerminateProcess(proc.hProcess, 99);
        CloseHandle(proc.hProcess);
        ui::EndAll("notepad.exe");
        for (HANDLE h : held)
            CloseHandle(h);
    }
    // Keeps a file open as another program would, sharing nothing.
    void Hold(const std::string &path) { held.push_back(CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)); }
    bool Start()
    {
        return ui::Run("\"" + exe + "\"", dir.c_str(), &proc) || fprintf(stderr, "gallery: cannot start %s\n", exe.c_str()) < 0;
    }
    HWND Next(const ui::Sel &sel) { return Await(proc.dwProcessId, sel, answered); }
    // The next window of this kind (a message box when only a caption is
    // given), pictured when a name is given, then answered.
    bool Meet(const char *picture, const ui::Sel &sel, int press)
    {
        HWND w = Next(sel);
        if (w)
            answered.push_back(w);
        return w && (!picture || Picture(picture, w, true)) && Answer(w, press);
    }
    bool Meet(const char *picture, const char *caption, int press) { return Meet(picture, {caption, ui::kBoxText}, press); }
    bool Click(int id) { HWND w = Next(kWelcome); return w && Answer(w, id); }
    bool Found() { return Meet(nullptr, kSetup, IDYES); }
    bool End()
    {
        DWORD code = 99;
        if (WaitForSingleObject(proc.hProcess, kWait) == WAIT_OBJECT_0 && GetExitCodeProcess(proc.hProcess, &code) && !code)
            return true;
        return fprintf(stderr, "gallery: %s: the setup did not end with 0 (%lu)\n", name.c_str(), code), false;
    }
};

// ------------------------------------------------------------------ the scenarios

// The dialog behind a question, alone: the question moved out of its way.
bool Behind(const char *picture, HWND question, HWND dialog)
{
    RECT r;
    GetWindowRect(question, &r);
    SetWindowPos(question, NULL, r.left, r.bottom + 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return Picture(picture, dialog);
}

// The game on F: already holds an older vxmain.vdf: welcome, search,
// question, overwrite, copying, success.
bool CleanRun()
{
    Setup s("clean");
    Put(kGame + "torvane.exe");
    Put(kData + "vxmain.vdf", "old");
    HWND welcome = s.Start() ? s.Next(kWelcome) : NULL;
    if (!welcome || !Picture("welcome", welcome) || !Answer(welcome, IDOK))
        return false;
    HWND found = s.Next({kSetup, ui::kBoxText}), search = ui::Find(s.proc.dwProcessId, kSearch);
    if (!search || !Picture("found", found, true) || !Behind("search", found, search) || !Answer(found, IDYES))
        return false;
    HWND overwrite = s.Next(kOverwrite), copying = ui::Find(s.proc.dwProcessId, kCopying);
    return copying && Picture("overwrite", overwrite, true) && Behind("copying", overwrite, copying) &&
           Answer(overwrite, IDYES) && s.Meet("done", "Done!", IDOK) && s.End();
}

// vxmain.vdf is declined, and the read-me's temporary name is taken by a
// folder: the temporary-file question, then both summaries.
bool DeclinedAndFailed()
{
    Setup s("declined");
    Put(kGame + "torvane.exe");
    Put(kData + "vxmain.vdf", "old");
    ui::MakeDirs(kData + "vxsky_readme.tmp");
    return s.Start() && s.Click(IDOK) && s.Found() && s.Meet(nullptr, kOverwrite, IDNO) &&
           s.Meet("temp-file", "Error", IDNO) && s.Meet("declined", "Error", IDOK) && s.Meet("failed", "Error", IDOK) &&
           s.Click(IDCANCEL) && s.End();
}

// A file in use: replaced at the next restart, told as NT and 95/98 tell it.
bool InUse(const char *picture, const char *version, int press)
{
    Setup s(picture, version);
    Put(kGame + "torvane.exe");
    Put(kData + "vxmain.vdf", "running");
    s.Hold(kData + "vxmain.vdf");
    return s.Start() && s.Click(IDOK) && s.Found() && s.Meet(picture, "Almost done...", press) && s.End();
}

// A file in use whose side name is taken by a folder: the side file cannot be made.
bool CreateFailed()
{
    Setup s("create-failed");
    Put(kGame + "torvane.exe");
    Put(kData + "vxmain.vdf", "running");
    s.Hold(kData + "vxmain.vdf");
    ui::MakeDirs(kData + "vxmain.000");
    return s.Start() && s.Click(IDOK) && s.Found() && s.Meet("create-failed", "Create Failed", IDOK) &&
           s.Meet(nullptr, "Error", IDOK) && s.Click(IDCANCEL) && s.End();
}

// The game on the small drive H:, with room for the temporary file and
// not for the copy beside it: 200 KiB, for the sample vxmain.vdf of 138 KiB.
bool DiskError()
{
    if (GetFileAttributesA("H:\\") == INVALID_FILE_ATTRIBUTES)
        return fprintf(stderr, "gallery: no drive H: (a small tmpfs the test bed mounts when it may)\n"), false;
    Setup s("disk-error");
    Put("H:\\torvane.exe");
    ui::MakeDirs("H:\\tvdata");
    if (!ui::Fill("H:\\filler", 200 * 1024))
        return fprintf(stderr, "gallery: cannot fill H:\n"), false;
    return s.Start() && s.Click(IDOK) && s.Found() && s.Meet("disk-error", "Error", IDOK) &&
           s.Meet(nullptr, "Error", IDOK) && s.Click(IDCANCEL) && s.End();
}

// A game folder so deep that the read-me's path is longer than the
// expand-copy takes.
bool FolderTooLong()
{
    Setup s("folder-too-long");
    const std::string game = "D:\\Games\\The Complete Torvane Collection\\Torvane Gold Edition, with every expansion "
                             "and every bonus pack\\";
    Put(game + "torvane.exe");
    ui::MakeDirs(game + "tvdata");
    return s.Start() && s.Click(IDOK) && s.Found() && s.Meet("folder-too-long", "Error", IDOK) &&
           s.Meet(nullptr, "Error", IDOK) && s.Click(IDCANCEL) && s.End();
}

// No game anywhere: the notice, the folder picker, and a folder picked
// whose path leaves no room for the closing backslash.
bool NotFound()
{
    Setup s("not-found");
    std::wstring longest = L"\\\\?\\D:\\Long";
    CreateDirectoryW(longest.c_str(), NULL);
    CreateDirectoryW((longest += L"\\" + std::wstring(251, L'x')).c_str(), NULL);   // 259 characters without the prefix
    std::string path(longest.begin() + 4, longest.end());
    if (!s.Start() || !s.Click(IDOK) || !s.Meet("not-found", "Browse", IDOK))
        return false;
    HWND picker = s.Next(kPicker);
    if (!picker || !Picture("picker", picker))
        return false;
    for (int i = 0; i < 2; i++, Sleep(300))   // once more when the tree has settled
        ui::Choose(picker, path);
    return Answer(picker, IDOK) && s.Meet("picked-too-long", "Error", IDOK) && s.Click(IDCANCEL) && s.End();
}

bool OldPlatform()
{
    Setup s("old-platform", "win31");
    return s.Start() && s.Meet("old-platform", "Sorry!", IDOK) && s.End();
}

// vxmain.vdf's embedded copy replaced by one byte.
bool Corrupt()
{
    Setup s("corrupt");
    HANDLE h = BeginUpdateResourceA(s.exe.c_str(), FALSE);
    bool ok = h && UpdateResourceA(h, "DLL", "VXMAIN.VDF", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (void *)"x", 1);
    if (!EndUpdateResourceA(h, !ok) || !ok)
        return fprintf(stderr, "gallery: cannot change %s\n", s.exe.c_str()), false;
    return s.Start() && s.Meet("corrupt", "Corrupt Setup", IDOK) && s.End();
}

// ------------------------------------------------------------------ in this process

// Runs fn (which puts up a message box with this caption) on a thread of its
// own, takes the picture of the box and what is behind it, and presses OK.
template <typename F> bool Here(const char *picture, const char *caption, F fn)
{
    std::thread run(fn);
    HWND box = Await(GetCurrentProcessId(), {caption, ui::kBoxText});
    bool ok = box && Picture(picture, box, true) && Answer(box, IDOK);
    if (!ok)
        TerminateProcess(GetCurrentProcess(), 2);   // the thread would wait in its box for ever
    run.join();
    return ok;
}

// The setup's own code on 95/98: a file in use whose path has no short form
// (here: gone by the time it is converted) cannot be named in WININIT.INI.
bool PathLength95()
{
    return Here("path-length-95", "Sorry!", [] {
        HWND copying = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_COPYING), NULL, CopyDlgProc, 0);
        SetCurrentDialog(copying);
        g_osVersion.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        ui::RemoveTree("F:");
        Put(kData + "vxmain.000", "new");
        ScheduleReplaceAtRestart((kData + "vxmain.vdf").c_str(), (kData + "vxmain.000").c_str());
        DestroyWindow(copying);
    });
}

HRESULT WINAPI NoShellAllocator(IMalloc **malloc)
{
    *malloc = NULL;
    return E_FAIL;
}

// Browse pressed in the search dialog while the shell cannot hand out its
// allocator: the setup's own table of the shell's functions points at a
// stand-in that fails.
bool ShellError()
{
    g_systemProcs[SYS_SHGETMALLOC] = (FARPROC)(void (*)(void))NoShellAllocator;
    return Here("shell-error", "Error", [] {
        HWND search = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL, SearchDlgProc, 0);
        BrowseForGameFolder();
        DestroyWindow(search);
    });
}

bool WelcomeOnly()
{
    Setup s("welcome");
    HWND welcome = s.Start() ? s.Next(kWelcome) : NULL;
    return welcome && Picture("welcome", welcome) && Answer(welcome, IDCANCEL) && s.End();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: skyrift_gallery SETUP OUTDIR [welcome]\n");
        return 2;
    }
    g_setupExe = argv[1];
    g_out = std::string(argv[2]) + "\\";
    ui::MakeDirs(g_out);
    if (argc > 3)
        return WelcomeOnly() ? 0 : 1;
    g_hInstance = GetModuleHandleA(NULL);
    char missing[MAX_PATH];
    if (!LoadSystemLibraries(1, missing, sizeof(missing)))
        return fprintf(stderr, "gallery: cannot load %s\n", missing), 1;
    InitCommonControls();
    CoInitialize(NULL);
    bool ok = CleanRun() && DeclinedAndFailed() && NotFound() && InUse("restart-nt", "winxp", IDOK) &&
              InUse("restart-9x", "win98", IDNO) && CreateFailed() && DiskError() && FolderTooLong() && OldPlatform() &&
              Corrupt() && PathLength95() && ShellError();
    HDC screen = GetDC(NULL);
    printf("%d pictures at %d DPI; the texts of %d fit their controls, of %d not\n", g_pictures,
           GetDeviceCaps(screen, LOGPIXELSY), g_measured - g_clipped, g_clipped);
    if (!g_cutOff.empty())
        printf("drawn up to their control's right edge, cut off there:%s\n", g_cutOff.c_str());
    ReleaseDC(NULL, screen);
    return ok && !g_clipped ? 0 : 1;
}
