// The system's Notepad in the test bed: appends its show state and command line to
// the file SKYRIFT_NOTEPAD_LOG names, then shows the file named as Notepad does.
#include <windows.h>
#include <stdlib.h>
#include <string>

#include "ui.h"

namespace {

void Record(int show)
{
    char log[MAX_PATH];
    if (!GetEnvironmentVariableA("SKYRIFT_NOTEPAD_LOG", log, MAX_PATH))
        return;
    HANDLE h = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    std::string line = std::to_string(show) + " " + GetCommandLineA() + "\r\n";
    DWORD written;
    WriteFile(h, line.data(), (DWORD)line.size(), &written, NULL);
    CloseHandle(h);
}

LRESULT CALLBACK NotepadProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(w, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    Record(show);
    std::string file = __argc > 1 ? __argv[1] : "", name = file.substr(file.find_last_of("\\/") + 1);

    WNDCLASSA wc = {};
    wc.lpszClassName = "Notepad";
    wc.lpfnWndProc = NotepadProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    RegisterClassA(&wc);
    HWND w = CreateWindowA("Notepad", (name + " - Notepad").c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 560, 400, NULL, NULL,
                           instance, NULL);
    RECT r;
    GetClientRect(w, &r);
    CreateWindowA("EDIT", ui::Read(file).c_str(), WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_NOHIDESEL, 0, 0, r.right, r.bottom, w, NULL, instance, NULL);
    ShowWindow(w, show);
    UpdateWindow(w);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
