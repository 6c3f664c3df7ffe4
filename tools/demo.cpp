// Runs the setup program as a user would and takes pictures of it: what the
// run command does on a machine without a display.
//
//   skyrift_demo.exe SETUP OUTDIR [walkthrough]
//
// Without "walkthrough": waits for the welcome dialog, saves it as
// OUTDIR\welcome.bmp and presses Cancel. With it: presses Install instead,
// answers Yes to the first folder question and to the overwrite question,
// OK to the success message, and saves a picture at each of these steps. Prints the setup's exit code and
// returns it (2 when the setup did not behave as expected).
#include <windows.h>
#include <stdio.h>
#include <string>

#include "ui.h"
#include "resource.h"

namespace {

const char kCaption[] = "Vexmoor Skyrift Setup";
const DWORD kWaitMs = 60000;

// Saves what the screen shows of r as a 24-bit BMP file.
bool SaveScreen(const RECT &r, const std::string &path)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;          // bottom-up, as BMP files store it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = false;
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(mem, old);
    }
    DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
    DWORD size = stride * (DWORD)h;
    if (ok) {
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + size;
        FILE *f = fopen(path.c_str(), "wb");
        ok = f && fwrite(&fh, sizeof(fh), 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
             fwrite(bits, 1, size, f) == size;
        if (f && fclose(f) != 0)
            ok = false;
    }
    if (bmp)
        DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    if (ok)
        printf("picture: %s\n", path.c_str());
    else
        fprintf(stderr, "demo: could not save %s\n", path.c_str());
    return ok;
}

bool SaveWindow(HWND hwnd, const std::string &path)
{
    RECT r;
    return GetWindowRect(hwnd, &r) && SaveScreen(r, path);
}

bool SaveWholeScreen(const std::string &path)
{
    RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return SaveScreen(r, path);
}

// A visible dialog of the setup with the given caption and a control id.
HWND WaitFor(DWORD pid, const char *caption, int controlId)
{
    HWND w = NULL;
    for (DWORD start = GetTickCount(); !w && GetTickCount() - start < kWaitMs; Sleep(20))
        w = ui::Find(pid, {caption, controlId});
    if (!w)
        fprintf(stderr, "demo: no \"%s\" dialog\n%s", caption, ui::Describe(0).c_str());
    return w;
}

// Lets the dialog paint itself before its picture is taken.
void Settle() { Sleep(700); }

// The read-me opened by a clean run: closed again so the demo leaves
// nothing running.
void CloseNotepad()
{
    for (int i = 0; i < 40; i++) {
        HWND np = FindWindowA("Notepad", NULL);
        if (np) {
            PostMessageA(np, WM_CLOSE, 0, 0);
            return;
        }
        Sleep(50);
    }
}

// The same without waiting: NULL when there is none at this moment.
HWND Showing(DWORD pid, const char *caption, int controlId) { return ui::Find(pid, {caption, controlId}); }

// The sample game already holds an older read-me, so the run meets the
// overwrite question over the copying dialog.
bool Walkthrough(const PROCESS_INFORMATION &setup, const std::string &out)
{
    HWND welcome = WaitFor(setup.dwProcessId, kCaption, IDOK);
    if (!welcome)
        return false;
    Settle();
    SaveWindow(welcome, out + "welcome.bmp");
    ui::Press(welcome, IDOK);

    // The search dialog is up while C: is walked; the question follows.
    // It may already be disabled by the question when it is first seen;
    // then there is no picture of it alone.
    HWND search = NULL;
    for (DWORD start = GetTickCount(); !search && GetTickCount() - start < kWaitMs; Sleep(20))
        search = Showing(setup.dwProcessId, kCaption, IDC_ANIMATE);
    if (!search) {
        fprintf(stderr, "demo: no search dialog\n%s", ui::Describe(0).c_str());
        return false;
    }
    Sleep(150);
    if (IsWindowEnabled(search) && !Showing(setup.dwProcessId, kCaption, IDYES))
        SaveWindow(search, out + "search.bmp");

    HWND question = WaitFor(setup.dwProcessId, kCaption, IDYES);
    if (!question)
        return false;
    printf("question: %s\n", ui::Text(question, ui::kBoxText).c_str());
    Settle();
    SaveWholeScreen(out + "question.bmp");
    ui::Press(question, IDYES);

    HWND overwrite = WaitFor(setup.dwProcessId, "Overwrite?", IDC_YESTOALL);
    if (!overwrite)
        return false;
    printf("overwrite: %s\n", ui::Text(overwrite, IDC_OVERWRITE_TEXT).c_str());
    Settle();
    SaveWholeScreen(out + "overwrite.bmp");
    // The question sits centred over the copying dialog: moved aside for
    // the copying dialog's own picture.
    HWND copying = Showing(setup.dwProcessId, "Copying files...", -1);
    if (copying) {
        RECT r;
        GetWindowRect(overwrite, &r);
        SetWindowPos(overwrite, NULL, r.left, r.top + 3 * (r.bottom - r.top) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Settle();
        SaveWindow(copying, out + "copying.bmp");
    }
    ui::Press(overwrite, IDYES);

    HWND done = WaitFor(setup.dwProcessId, "Done!", IDOK);
    if (!done)
        return false;
    printf("done: %s\n", ui::Text(done, ui::kBoxText).c_str());
    Settle();
    SaveWholeScreen(out + "done.bmp");
    ui::Press(done, IDOK);
    CloseNotepad();
    return true;
}

bool WelcomeOnly(const PROCESS_INFORMATION &setup, const std::string &out)
{
    HWND welcome = WaitFor(setup.dwProcessId, kCaption, IDOK);
    if (!welcome)
        return false;
    Settle();
    SaveWindow(welcome, out + "welcome.bmp");
    ui::Press(welcome, IDCANCEL);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: skyrift_demo SETUP OUTDIR [walkthrough]\n");
        return 2;
    }
    std::string out = argv[2];
    if (out.empty() || out.back() != '\\')
        out += '\\';
    CreateDirectoryA(out.c_str(), NULL);
    bool walk = argc > 3 && std::string(argv[3]) == "walkthrough";

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION setup;
    if (!CreateProcessA(argv[1], NULL, NULL, NULL, FALSE, 0, NULL, NULL, &si, &setup))
        return 2;
    bool ok = walk ? Walkthrough(setup, out) : WelcomeOnly(setup, out);
    DWORD code = 2;
    if (WaitForSingleObject(setup.hProcess, 20000) != WAIT_OBJECT_0) {
        fprintf(stderr, "demo: the setup did not end\n%s", ui::Describe(0).c_str());
        TerminateProcess(setup.hProcess, 2);
        ok = false;
    }
    GetExitCodeProcess(setup.hProcess, &code);
    printf("setup exit code: %lu\n", (unsigned long)code);
    fflush(stdout);
    return ok ? (int)code : 2;
}
