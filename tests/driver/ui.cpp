// The UI driver; see ui.h.
#include "ui.h"

#include <stdio.h>
#include <stdlib.h>

namespace ui {
namespace {

std::string ClassOf(HWND w)
{
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof(cls));
    return cls;
}

HWND Control(HWND dlg, int id)
{
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if ((WORD)GetDlgCtrlID(c) == (WORD)id)
            return c;
    return NULL;
}

bool IsIcon(HWND c)
{
    return _stricmp(ClassOf(c).c_str(), "Static") == 0 &&
           (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

BOOL CALLBACK Collect(HWND w, LPARAM lp)
{
    auto *found = (std::pair<DWORD, std::vector<HWND>> *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (IsWindowVisible(w) && ClassOf(w) == "#32770" && (!found->first || pid == found->first))
        found->second.push_back(w);
    return TRUE;
}

// A 32-bit top-down bitmap of w x h pixels in a memory DC.
struct Shot {
    HDC dc;
    HBITMAP bmp;
    DWORD *px = nullptr;
    int n;
    Shot(int w, int h) : n(w * h)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc = CreateCompatibleDC(NULL);
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&px, NULL, 0);
        SelectObject(dc, bmp);
    }
    ~Shot()
    {
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    bool Grab(const RECT &r)
    {
        HDC screen = GetDC(NULL);
        BOOL ok = BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(NULL, screen);
        GdiFlush();
        return ok;
    }
};

// Which of the system's four message box icons the control shows: each is
// drawn here on the control's background and compared with the screen.
int IconShown(HWND c)
{
    const struct { int flag; LPCSTR id; } icons[] = {{MB_ICONHAND, IDI_HAND}, {MB_ICONQUESTION, IDI_QUESTION},
                                                     {MB_ICONEXCLAMATION, IDI_EXCLAMATION},
                                                     {MB_ICONASTERISK, IDI_ASTERISK}};
    RECT r;
    GetWindowRect(c, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    Shot screen(w, h), drawn(w, h);
    if (w <= 0 || h <= 0 || !screen.Grab(r))
        return -1;
    long best = -1, second = -1;
    int flag = -1;
    for (auto &icon : icons) {
        for (int i = 0; i < drawn.n; i++)
            drawn.px[i] = screen.px[0];
        DrawIconEx(drawn.dc, 0, 0, LoadIconA(NULL, icon.id), 0, 0, 0, NULL, DI_NORMAL);
        GdiFlush();
        long diff = 0;
        for (int i = 0; i < drawn.n; i++)
            diff += (drawn.px[i] & 0xFFFFFF) != (screen.px[i] & 0xFFFFFF);
        if (best < 0 || diff < best) {
            second = best;
            best = diff;
            flag = icon.flag;
        } else if (second < 0 || diff < second) {
            second = diff;
        }
    }
    return best * 20 <= drawn.n && best * 4 < second ? flag : -1;   // a clear winner only
}

}  // namespace

std::vector<HWND> Dialogs(DWORD pid)
{
    std::pair<DWORD, std::vector<HWND>> found{pid, {}};
    EnumWindows(Collect, (LPARAM)&found);
    return found.second;
}

bool Is(HWND w, const Sel &s)
{
    HWND c = Control(w, s.id);
    return c && IsWindowVisible(c) && Caption(w) == s.caption;
}

bool IsBox(HWND w) { return Control(w, kBoxIcon) && Control(w, kBoxText); }

HWND Find(DWORD pid, const Sel &s, DWORD ms, const std::set<HWND> &skip)
{
    for (DWORD start = GetTickCount();; Sleep(20)) {
        for (HWND w : Dialogs(pid))
            if (!skip.count(w) && Is(w, s))
                return w;
        if (GetTickCount() - start >= ms)
            return NULL;
    }
}

std::string Text(HWND w)
{
    char text[4096] = "";
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &n))
        GetWindowTextA(w, text, sizeof(text));
    return text;
}

std::string Text(HWND dlg, int id)
{
    HWND c = Control(dlg, id);
    return c ? Text(c) : "<no control " + std::to_string(id) + ">";
}

std::string Caption(HWND w)
{
    WCHAR wide[512] = L"";
    char text[1024] = "";
    int n = InternalGetWindowText(w, wide, 512);   // sends nothing: a busy owner does not matter
    WideCharToMultiByte(CP_ACP, 0, wide, n + 1, text, sizeof(text), NULL, NULL);
    return text;
}

std::string Reads(HWND dlg)
{
    std::string out;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        DWORD_PTR icon = 0;
        if (IsIcon(c))
            SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
        out += (out.empty() ? "" : "|") + (icon ? std::string("<icon>") : IsIcon(c) ? "" : Text(c));
    }
    return out;
}

std::string Owner(HWND w)
{
    HWND owner = GetWindow(w, GW_OWNER);
    return owner ? Caption(owner) : "";
}

int Style(HWND box)
{
    auto shown = [&](int id) {
        HWND b = Control(box, id);
        return b && IsWindowVisible(b);
    };
    int style = shown(IDYES) && shown(IDNO) ? MB_YESNO : shown(IDOK) && !shown(IDCANCEL) ? MB_OK : 0xF;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        DWORD_PTR handle = 0;
        if (!IsIcon(c) || !IsWindowVisible(c) ||
            (SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle) && !handle))
            continue;
        int icon = -1;
        for (int tries = 0; icon < 0 && tries < 50; tries++, Sleep(30))   // until it is painted
            icon = IconShown(c);
        return style | (icon < 0 ? 0xF0 : icon);
    }
    return style;
}

bool Press(HWND dlg, int id)
{
    if (id == kCloseBox)   // what the caption's close box sends
        return PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof(gti);
    if (id == kEnter)      // the key goes to the control that has the focus
        return GetGUIThreadInfo(GetWindowThreadProcessId(dlg, NULL), &gti) && gti.hwndFocus &&
               IsChild(dlg, gti.hwndFocus) && PostMessageA(gti.hwndFocus, WM_KEYDOWN, VK_RETURN, 1) &&
               PostMessageA(gti.hwndFocus, WM_KEYUP, VK_RETURN, 0xC0000001);
    // A button the player can click: shown, enabled, not covered. The button
    // then goes through its own click (mouse down and up) and tells its dialog.
    HWND c = Control(dlg, id);
    RECT r;
    if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c) || !IsWindowEnabled(dlg) || !GetWindowRect(c, &r))
        return false;
    return WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2}) == c && PostMessageA(c, BM_CLICK, 0, 0);
}

unsigned Pixels(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    Shot shot(r.right - r.left, r.bottom - r.top);
    unsigned hash = 2166136261u;
    if (shot.n > 0 && shot.Grab(r))
        for (int i = 0; i < shot.n; i++)
            hash = (hash ^ (shot.px[i] & 0xFFFFFF)) * 16777619u;
    return hash;
}

std::string Describe(DWORD pid)
{
    std::string out = "visible dialogs:\n";
    for (HWND w : Dialogs(pid)) {
        char line[160];
        snprintf(line, sizeof(line), "  \"%s\" owner \"%s\"%s:", Caption(w).c_str(), Owner(w).c_str(),
                 IsWindowEnabled(w) ? "" : " (disabled)");
        out += line;
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            out += " [" + std::to_string((int)(short)GetDlgCtrlID(c)) + " " + Text(c) + "]";
        out += "\n";
    }
    return out;
}

}  // namespace ui
