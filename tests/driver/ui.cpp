// The UI driver; see ui.h.
#include "ui.h"

#include <shlobj.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <algorithm>

namespace ui {
namespace {

HWND Control(HWND dlg, int id)
{
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if ((WORD)GetDlgCtrlID(c) == (WORD)id)
            return c;
    return NULL;
}

// A window that is slow to answer only because the machine is loaded still
// answers within this; one that does not answer at all is treated as hung.
const UINT kAnswerMs = 10000;

std::string Text(HWND w)
{
    char text[4096] = "";
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_ABORTIFHUNG, kAnswerMs, &n))
        GetWindowTextA(w, text, sizeof(text));
    return text;
}

// The icon an icon control holds (NULL for none or another kind of control).
HICON IconOf(HWND c)
{
    char cls[16] = "";
    DWORD_PTR icon = 0;
    if (GetClassNameA(c, cls, sizeof(cls)) && !_stricmp(cls, "Static") &&
        (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        SendMessageTimeoutA(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &icon);
    return (HICON)icon;
}

// What the screen shows of a rectangle, as 32-bit pixels in a memory DC.
struct Shot {
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bmp;
    DWORD *px = nullptr;
    int n;
    explicit Shot(const RECT &r) : n((r.right - r.left) * (r.bottom - r.top))
    {
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right - r.left, r.top - r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void **)&px, NULL, 0);
        SelectObject(dc, bmp);
        HDC screen = GetDC(NULL);
        BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
        ReleaseDC(NULL, screen);
        GdiFlush();
    }
    ~Shot()
    {
        DeleteDC(dc);
        DeleteObject(bmp);
    }
};

// Which of the system's message box icons the control shows: each is drawn
// here on the control's background and compared with the screen.
int IconShown(HWND c)
{
    const struct { int flag; LPCSTR id; } icons[] = {{MB_ICONHAND, IDI_HAND}, {MB_ICONQUESTION, IDI_QUESTION},
                                                     {MB_ICONEXCLAMATION, IDI_EXCLAMATION}, {MB_ICONASTERISK, IDI_ASTERISK}};
    RECT r;
    GetWindowRect(c, &r);
    Shot screen(r), drawn(r);
    for (auto &icon : icons) {
        int differ = 0;
        for (int i = 0; i < drawn.n; i++)
            drawn.px[i] = screen.px[0];
        DrawIconEx(drawn.dc, 0, 0, LoadIconA(NULL, icon.id), 0, 0, 0, NULL, DI_NORMAL);
        GdiFlush();
        for (int i = 0; i < drawn.n; i++)
            differ += (drawn.px[i] & 0xFFFFFF) != (screen.px[i] & 0xFFFFFF);
        if (drawn.n && differ * 20 <= drawn.n)
            return icon.flag;
    }
    return -1;
}

BOOL CALLBACK Collect(HWND w, LPARAM lp)
{
    auto *found = (std::pair<DWORD, std::vector<HWND>> *)lp;
    char cls[16] = "";
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (IsWindowVisible(w) && GetClassNameA(w, cls, sizeof(cls)) && !strcmp(cls, "#32770") &&
        (!found->first || pid == found->first))
        found->second.push_back(w);
    return TRUE;
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

// Its tree of folders (the same control id on Windows and under Wine) and OK;
// its caption is in the system's language.
bool IsPicker(HWND w)
{
    char cls[16] = "";
    HWND tree = Control(w, 0x3741);
    return tree && IsWindowVisible(tree) && GetClassNameA(tree, cls, sizeof(cls)) && !strcmp(cls, "SysTreeView32") &&
           Control(w, IDOK);
}

HWND Find(DWORD pid, const Sel &s)
{
    for (HWND w : Dialogs(pid))
        if (Is(w, s))
            return w;
    return NULL;
}

std::string Caption(HWND w)
{
    WCHAR wide[512] = L"";
    char text[1024] = "";
    int n = InternalGetWindowText(w, wide, 512);   // sends nothing: a busy owner does not matter
    WideCharToMultiByte(CP_ACP, 0, wide, n + 1, text, sizeof(text), NULL, NULL);
    return text;
}

std::string Text(HWND dlg, int id)
{
    HWND c = Control(dlg, id);
    return c ? Text(c) : "<no control " + std::to_string(id) + ">";
}

std::string Reads(HWND dlg)
{
    std::string out;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        out += (out.empty() ? "" : "|") + (IconOf(c) ? "<icon>" : Text(c));
    return out;
}

std::string Owner(HWND w) { return GetWindow(w, GW_OWNER) ? Caption(GetWindow(w, GW_OWNER)) : ""; }

int Style(HWND box)
{
    auto shown = [&](int id) { return Control(box, id) && IsWindowVisible(Control(box, id)); };
    int style = shown(IDYES) && shown(IDNO) ? MB_YESNO : shown(IDOK) && !shown(IDCANCEL) ? MB_OK : 0xF;
    HWND c = Control(box, kBoxIcon);
    int icon = c && IsWindowVisible(c) && IconOf(c) ? -1 : 0;
    // until it is painted
    for (DWORD start = GetTickCount(); icon < 0 && GetTickCount() - start < kAnswerMs; Sleep(30))
        icon = IconShown(c);
    return style | (icon < 0 ? 0xF0 : icon);
}

// A key typed as the keyboard does, to whatever has the focus.
bool Type(int key)
{
    std::vector<int> keys = {key & 0xFFFF};   // the modifiers go down first and up last
    if (key & kShift)
        keys.insert(keys.begin(), VK_SHIFT);
    if (key & kAlt)
        keys.insert(keys.begin(), VK_MENU);
    std::vector<INPUT> in(2 * keys.size());
    for (size_t i = 0; i < in.size(); i++) {
        int vk = keys[i < keys.size() ? i : in.size() - 1 - i];
        in[i].type = INPUT_KEYBOARD;
        in[i].ki = {(WORD)vk, (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC), i < keys.size() ? 0u : KEYEVENTF_KEYUP, 0, 0};
    }
    return SendInput((UINT)in.size(), in.data(), sizeof(INPUT)) == in.size();
}

HWND Focus(HWND w)
{
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof(gti);
    return GetGUIThreadInfo(GetWindowThreadProcessId(w, NULL), &gti) ? gti.hwndFocus : NULL;
}

bool Press(HWND dlg, int id)
{
    if (id > 0 && (id & kKey))
        return GetForegroundWindow() == dlg && IsWindowEnabled(dlg) && Type(id);
    if (id == kCloseBox)   // what the caption's close box sends
        return PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof(gti);
    if (id == kEnter)      // the key goes to the control that has the focus
        return GetGUIThreadInfo(GetWindowThreadProcessId(dlg, NULL), &gti) && IsChild(dlg, gti.hwndFocus) &&
               PostMessageA(gti.hwndFocus, WM_KEYDOWN, VK_RETURN, 1) &&
               PostMessageA(gti.hwndFocus, WM_KEYUP, VK_RETURN, 0xC0000001);
    // A button the player can click: shown, enabled, not covered. The button
    // then goes through its own click (mouse down and up) and tells its dialog.
    HWND c = Control(dlg, id);
    RECT r;
    return c && IsWindowVisible(c) && IsWindowEnabled(c) && IsWindowEnabled(dlg) && GetWindowRect(c, &r) &&
           WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2}) == c && PostMessageA(c, BM_CLICK, 0, 0);
}

bool Close(HWND w, int id, DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(20)) {
        if (!IsWindow(w) || !IsWindowVisible(w) || !IsWindowEnabled(w))
            return true;
        id = id && !Press(w, id) ? id : 0;
    }
    return false;
}

bool Choose(HWND picker, const std::string &folder)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(picker, &pid);
    HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    void *remote = p ? VirtualAllocEx(p, NULL, folder.size() + 1, MEM_COMMIT, PAGE_READWRITE) : NULL;
    DWORD_PTR r = 0;
    bool ok = remote && WriteProcessMemory(p, remote, folder.c_str(), folder.size() + 1, NULL) &&
              SendMessageTimeoutA(picker, BFFM_SETSELECTIONA, TRUE, (LPARAM)remote, SMTO_ABORTIFHUNG, kAnswerMs, &r);
    if (remote)
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    if (p)
        CloseHandle(p);
    return ok;
}

std::vector<std::pair<HWND, std::string>> StaticTexts(HWND dlg)
{
    std::vector<std::pair<HWND, std::string>> found;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16] = "";
        std::string text;
        if (GetClassNameA(c, cls, sizeof(cls)) && !_stricmp(cls, "Static") &&
            (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) <= SS_RIGHT && !(text = Text(c)).empty())
            found.push_back({c, text});
    }
    return found;
}

std::string Clipped(HWND dlg, HFONT font, std::string *why)
{
    std::string texts;
    for (auto &[c, text] : StaticTexts(dlg)) {
        char line[640];
        LONG style = GetWindowLongA(c, GWL_STYLE);
        RECT has;
        if (!GetClientRect(c, &has))
            continue;
        RECT needs = has, shown = has, window;
        // what of the control the dialog shows: it may reach past the edge
        MapWindowPoints(c, dlg, (POINT *)&shown, 2);
        GetClientRect(dlg, &window);
        IntersectRect(&shown, &shown, &window);
        OffsetRect(&shown, -shown.left, -shown.top);
        HDC dc = GetDC(NULL);
        HGDIOBJ was = SelectObject(dc, font ? font : (HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
        DrawTextA(dc, text.c_str(), -1, &needs, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0));
        SelectObject(dc, was);
        ReleaseDC(NULL, dc);
        snprintf(line, sizeof(line), "\n  \"%s\" needs %ldx%ld px, has %ldx%ld, %ldx%ld of them shown", text.c_str(),
                 needs.right, needs.bottom, has.right, has.bottom, shown.right, shown.bottom);
        *why += line;
        if (needs.right > shown.right || needs.bottom > shown.bottom)
            texts += (texts.empty() ? "" : "|") + text;
    }
    return texts;
}

std::string Chosen(HWND picker)
{
    HWND tree = Control(picker, 0x3741);
    DWORD pid = 0;
    GetWindowThreadProcessId(picker, &pid);
    HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char *remote = p ? (char *)VirtualAllocEx(p, NULL, sizeof(TVITEMA) + MAX_PATH, MEM_COMMIT, PAGE_READWRITE) : NULL;
    DWORD_PTR item = 0, r = 0;
    char name[MAX_PATH] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.pszText = remote + sizeof(TVITEMA);
    tv.cchTextMax = MAX_PATH;
    if (remote && SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, kAnswerMs, &item) && item &&
        (tv.hItem = (HTREEITEM)item, WriteProcessMemory(p, remote, &tv, sizeof(tv), NULL)) &&
        SendMessageTimeoutA(tree, TVM_GETITEMA, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, kAnswerMs, &r) && r)
        ReadProcessMemory(p, remote + sizeof(TVITEMA), name, sizeof(name) - 1, NULL);
    if (remote)
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
    if (p)
        CloseHandle(p);
    return name;
}

unsigned Pixels(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    Shot shot(r);
    unsigned hash = 2166136261u;
    for (int i = 0; i < shot.n; i++)
        hash = (hash ^ (shot.px[i] & 0xFFFFFF)) * 16777619u;
    return hash;
}

void RemoveTree(const std::wstring &dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
        std::wstring child = dir + L"\\" + fd.cFileName, name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L".." && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(child);
        } else if (!DeleteFileW(child.c_str()) && SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL)) {
            DeleteFileW(child.c_str());   // read-only
        }
    }
    FindClose(h);
    if (!RemoveDirectoryW(dir.c_str()) && SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL))
        RemoveDirectoryW(dir.c_str());
}

void RemoveTree(const std::string &dir)
{
    RemoveTree(L"\\\\?\\" + std::wstring(dir.begin(), dir.end() - (!dir.empty() && dir.back() == '\\')));
}

// Paths are stepped by character: in a double-byte code page the second
// byte of a character can be the backslash's.
std::string Listing(const std::string &dir, const char *pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + pattern).c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &fd))
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    FindClose(h);
    return Joined(names, "|");
}

std::string Joined(std::vector<std::string> names, const char *sep)
{
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : sep) + n;
    return out;
}

std::string Read(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    DWORD size = GetFileSize(h, NULL), got = 0;
    std::string bytes(size == INVALID_FILE_SIZE ? 0 : size + 1, '\0');
    bool ok = h != INVALID_HANDLE_VALUE && size != INVALID_FILE_SIZE && ReadFile(h, &bytes[0], size + 1, &got, NULL);
    CloseHandle(h);
    return ok ? bytes.substr(0, got) : "<none>";
}

std::string Ansi(const wchar_t *text)
{
    char out[512];
    return WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof(out), NULL, NULL) ? out : "";
}

void MakeDirs(const std::string &path)
{
    const char *start = path.c_str();
    for (const char *p = start + std::min<size_t>(3, path.size());; p = CharNextA(p)) {
        if (*p == '\\' || *p == '\0')
            CreateDirectoryA(path.substr(0, p - start).c_str(), NULL);
        if (*p == '\0')
            break;
    }
}

bool Put(const std::string &path, const std::string &bytes)
{
    size_t folder = 0;
    for (const char *p = path.c_str(); *p; p = CharNextA(p))
        folder = *p == '\\' ? p - path.c_str() : folder;
    MakeDirs(path.substr(0, folder));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD put = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
    CloseHandle(h);
    return ok && put == bytes.size();
}

long long Room(const std::string &root, long long *cluster)
{
    DWORD perCluster = 0, perSector = 0, freeClusters = 0, total = 0;
    if (!GetDiskFreeSpaceA(root.c_str(), &perCluster, &perSector, &freeClusters, &total))
        return -1;
    *cluster = (long long)perCluster * perSector;
    return *cluster * freeClusters;
}

bool Fill(const std::string &path, long long leave)
{
    long long cluster, room = Room(path.substr(0, 3), &cluster);
    if (room < leave || !Put(path, std::string((size_t)(room - leave), 'f')))
        return false;
    return Room(path.substr(0, 3), &cluster) == leave;
}

bool ReportVersion(const std::string &exeName, const char *version)
{
    return !RegSetKeyValueA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + exeName).c_str(), "Version", REG_SZ,
                            version, (DWORD)strlen(version) + 1);
}

bool LoadOrder(const std::string &exeName, const std::vector<std::string> &libraries, const char *order)
{
    const std::string key = "Software\\Wine\\AppDefaults\\" + exeName + "\\DllOverrides";
    if (!order) {
        LSTATUS r = RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
        return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
    }
    bool ok = true;
    for (const std::string &lib : libraries)
        ok = ok && !RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), lib.substr(0, lib.rfind('.')).c_str(), REG_SZ,
                                    order, (DWORD)strlen(order) + 1);
    return ok;
}

int EndAll(const char *exeName, bool end)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 p = {};
    p.dwSize = sizeof(p);
    int found = 0;
    for (BOOL more = Process32First(snap, &p); more; more = Process32Next(snap, &p)) {
        found += !_stricmp(p.szExeFile, exeName);
        HANDLE h = !end || _stricmp(p.szExeFile, exeName) ? NULL : OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.th32ProcessID);
        if (h && TerminateProcess(h, 99))
            WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
    CloseHandle(snap);
    return found;
}

bool Run(const std::string &command, const char *dir, PROCESS_INFORMATION *proc)
{
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    std::string cmd = command;
    // a Unix program that Wine starts has no thread handle to close
    return CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, dir, &si, proc) && (CloseHandle(proc->hThread), true);
}

std::string Describe(DWORD pid)
{
    std::string out = "visible dialogs:\n";
    for (HWND w : Dialogs(pid)) {
        out += "  \"" + Caption(w) + "\" owner \"" + Owner(w) + (IsWindowEnabled(w) ? "\":" : "\" (disabled):");
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            out += " [" + std::to_string((short)GetDlgCtrlID(c)) + " " + Text(c) + "]";
        out += "\n";
    }
    return out;
}

}  // namespace ui
