#include "test_support.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <string.h>
#include <atomic>
#include <set>
#include <thread>

namespace ts {

static std::string ExeBaseName()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof(path));
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    if (slash != std::string::npos)
        s = s.substr(slash + 1);
    size_t dot = s.rfind('.');
    if (dot != std::string::npos)
        s = s.substr(0, dot);
    return s;
}

bool MakeDirs(const std::string &path)
{
    std::string cur;
    for (size_t i = 0; i < path.size(); i++) {
        cur += path[i];
        if ((path[i] == '\\' || i + 1 == path.size()) && cur.size() > 3)
            CreateDirectoryA(cur.c_str(), NULL);
    }
    return DirExists(path);
}

// Works on the long-path form, so trees deeper than MAX_PATH go too.
static void RemoveTreeW(const std::wstring &dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L".."))
                continue;
            std::wstring child = dir + L"\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTreeW(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

void RemoveTree(const std::string &path)
{
    std::string dir = path;
    if (!dir.empty() && dir.back() == '\\')
        dir.pop_back();
    std::wstring wide = L"\\\\?\\";
    for (char c : dir)
        wide += (wchar_t)(unsigned char)c;
    RemoveTreeW(wide);    // a drive itself ("D:") is emptied, not removed
}

std::string ScratchDir()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char &c : name)
        if (c == '/')
            c = '_';
    std::string dir = "G:\\" + ExeBaseName() + "\\" + name + "\\";
    RemoveTree(dir);
    MakeDirs(dir);
    return dir;
}

void ClearDrive(char letter)
{
    std::string root = std::string(1, letter) + ":";
    RemoveTree(root);
}

bool WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::string &path, std::string *bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof(buf), &got, NULL) && got > 0)
        bytes->append(buf, got);
    CloseHandle(h);
    return true;
}

bool FileExists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> ListDir(const std::string &dir)
{
    std::vector<std::string> names;
    std::string d = dir;
    if (!d.empty() && d.back() != '\\')
        d += '\\';
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((d + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

std::string SetupExe()
{
    return "X:\\bin\\VexmoorSkyriftSetup.exe";
}

std::string PayloadFile(const char *name)
{
    return std::string("X:\\generated\\payload\\") + name;
}

bool SetReportedVersion(const std::string &exeName, const char *version)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY h;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &h, NULL) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(h, "Version", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

std::string CopySetupTo(const std::string &dir, const std::string &name)
{
    std::string d = dir;
    if (!d.empty() && d.back() != '\\')
        d += '\\';
    MakeDirs(d);
    std::string dest = d + name;
    if (!CopyFileA(SetupExe().c_str(), dest.c_str(), FALSE))
        return std::string();
    return dest;
}

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::pair<std::string, std::string>> PendingMoves()
{
    std::vector<std::pair<std::string, std::string>> moves;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return moves;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(h, "PendingFileRenameOperations", NULL, &type, NULL, &size) == ERROR_SUCCESS && size) {
        std::string buf(size, '\0');
        RegQueryValueExA(h, "PendingFileRenameOperations", NULL, &type, (BYTE *)&buf[0], &size);
        std::vector<std::string> parts;
        size_t pos = 0;
        // pairs of strings; an empty target is a deletion, so split on every
        // terminator and stop at the double terminator that ends the list
        while (pos < buf.size()) {
            size_t end = buf.find('\0', pos);
            if (end == std::string::npos)
                end = buf.size();
            parts.push_back(buf.substr(pos, end - pos));
            pos = end + 1;
        }
        while (!parts.empty() && parts.size() % 2)
            parts.pop_back();
        auto clean = [](std::string s) {
            if (!s.empty() && s[0] == '!')
                s = s.substr(1);
            if (s.rfind("\\??\\", 0) == 0)
                s = s.substr(4);
            return s;
        };
        for (size_t i = 0; i + 1 < parts.size(); i += 2) {
            if (parts[i].empty())
                break;
            moves.emplace_back(clean(parts[i]), clean(parts[i + 1]));
        }
    }
    RegCloseKey(h);
    return moves;
}

void ClearPendingMoves()
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueA(h, "PendingFileRenameOperations");
        RegCloseKey(h);
    }
}

static BOOL CALLBACK CollectOwnDialogs(HWND hwnd, LPARAM lp)
{
    DWORD pid = 0;
    char cls[16] = "";
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && !strcmp(cls, "#32770"))
        ((std::set<HWND> *)lp)->insert(hwnd);
    return TRUE;
}

static std::set<HWND> OwnDialogs()
{
    std::set<HWND> s;
    EnumWindows(CollectOwnDialogs, (LPARAM)&s);
    return s;
}

bool NoDialogDuring(const std::function<void()> &fn, std::string *seen)
{
    std::set<HWND> before = OwnDialogs();
    std::atomic<bool> done{false};
    std::atomic<int> extra{0};
    std::string caption;
    std::thread watcher([&] {
        while (!done) {
            for (HWND h : OwnDialogs()) {
                if (before.count(h))
                    continue;
                if (extra++ == 0) {
                    char text[256] = "";
                    GetWindowTextA(h, text, sizeof(text));
                    caption = text;
                }
                PostMessageA(h, WM_COMMAND, IDNO, 0);
                PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
                before.insert(h);
            }
            Sleep(10);
        }
    });
    fn();
    done = true;
    watcher.join();
    if (seen)
        *seen = caption;
    if (extra)
        fprintf(stderr, "unexpected dialog: %s\n", caption.c_str());
    return extra == 0;
}

// The text of a tree item; for a tree of another process the item record
// and its text buffer are placed in that process's memory.
static std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[MAX_PATH] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.cchTextMax = sizeof(text);
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    if (pid == GetCurrentProcessId()) {
        tv.pszText = text;
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&tv);
        return text;
    }
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!proc)
        return "";
    char *remote = (char *)VirtualAllocEx(proc, NULL, sizeof(tv) + sizeof(text), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        tv.pszText = remote + sizeof(tv);
        SIZE_T n;
        WriteProcessMemory(proc, remote, &tv, sizeof(tv), &n);
        WriteProcessMemory(proc, remote + sizeof(tv), text, sizeof(text), &n);
        DWORD_PTR res;
        SendMessageTimeoutA(tree, TVM_GETITEMA, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 5000, &res);
        ReadProcessMemory(proc, remote + sizeof(tv), text, sizeof(text) - 1, &n);
        VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    }
    CloseHandle(proc);
    return text;
}

static HTREEITEM FindChild(HWND tree, HTREEITEM parent, const std::function<bool(const std::string &)> &match)
{
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
    for (HTREEITEM c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)parent); c;
         c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)c))
        if (match(ItemText(tree, c)))
            return c;
    return NULL;
}

bool SelectFolderInPicker(HWND picker, const std::vector<std::string> &path)
{
    HWND tree = FindWindowExA(picker, NULL, WC_TREEVIEWA, NULL);
    if (!tree || path.empty())
        return false;
    HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    std::string drive = "(" + path[0] + ")";
    auto isDrive = [&](const std::string &t) { return t.find(drive) != std::string::npos; };
    HTREEITEM item = NULL;
    // drives sit below "My Computer", one level under the desktop
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)root);
    for (HTREEITEM c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root); c && !item;
         c = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)c))
        item = isDrive(ItemText(tree, c)) ? c : FindChild(tree, c, isDrive);
    for (size_t i = 1; item && i < path.size(); i++)
        item = FindChild(tree, item, [&](const std::string &t) { return !_stricmp(t.c_str(), path[i].c_str()); });
    if (!item)
        return false;
    return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item) != 0;
}

uint32_t WindowPixelHash(HWND hwnd)
{
    RECT r;
    GetWindowRect(hwnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return 0;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    uint32_t hash = 2166136261u;
    const unsigned char *p = (const unsigned char *)bits;
    for (int i = 0; i < w * h * 4; i++)
        hash = (hash ^ p[i]) * 16777619u;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return hash;
}

}  // namespace ts
