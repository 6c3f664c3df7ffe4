// The real setup program, started in a process of its own and driven as a
// player drives it: each case is a script of steps that arrange the test
// bed's drives, wait for a window, read it, press a button with the mouse,
// and check the disk afterwards.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <shlobj.h>

#include "resources/resource.h"
#include "ui.h"

using ui::Sel;

namespace {

enum Op {
    GAME, PUT, MKDIR, HOLD, TREE, WIN, EXE, FLIP, RESIZE, DROP, NEEDS, PROPERTIES,   // arranging
    START, CLICK, BOX, PICK, READS, ANIMATES, TIMER, EXIT,             // the user
    INSTALLED, SAME, HAS, ONLY, NOTEPAD, MOVES, INI, RESTART, REBOOTS, SNAP, UNCHANGED,   // the disk
};

struct Step {
    Op op;
    std::string a, b, c;
    int n, m, k;
    Step(Op op, std::string a = "", std::string b = "", std::string c = "", int n = 0, int m = 0, int k = 0)
        : op(op), a(a), b(b), c(c), n(n), m(m), k(k) {}
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

const char kSetup[] = "Vexmoor Skyrift Setup";
const char kCopying[] = "Copying files...";
const Sel kWelcome{kSetup, IDOK}, kSearch{kSetup, IDC_ANIMATE}, kPicker{"Browse for Folder", IDOK};
const char kDeclinedText[] =
    "You chose not to overwrite some file(s).  The installation may not have completed successfully.";
const char kFailedText[] = "Some file(s) could not be copied do to the install program being corrupt or a disk "
                           "error.  The installation may not have completed successfully.";
const char kInUseText[] = "Some file(s) you tried to overwrite were in use during the installation.  In order "
                          "for the installation to finish, you must restart Windows.\n\n";
const char kCorruptText[] =
    "This setup program is corrupt, probably by a bad or aborted download.  Please download it again.";

// ------------------------------------------------------------------ the steps

Step Put(const std::string &path, const std::string &text = "MZ") { return {PUT, path, text}; }
Step Mkdir(const std::string &path) { return {MKDIR, path}; }
Step Game(const std::string &dir) { return {GAME, dir}; }   // the game's program and data folder
Step Hold(const std::string &path, int share) { return {HOLD, path, "", "", share}; }
Step Tree(const std::string &root, int width) { return {TREE, root, "", "", width}; }
Step Win(const char *version) { return {WIN, version}; }
Step Exe(const std::string &path) { return {EXE, path}; }   // run this build of the setup
Step Properties(const std::string &text) { return {PROPERTIES, text}; }
Step Flip(const char *entry, int at, int bits) { return {FLIP, entry, "", "", at, bits}; }
Step Resize(const char *entry, int by) { return {RESIZE, entry, "", "", by}; }
Step Drop(const char *entry) { return {DROP, entry}; }
Step Needs(const std::string &root) { return {NEEDS, root}; }
Step Start() { return {START}; }
Step Click(const Sel &s, int id) { return {CLICK, s.caption, "", "", s.id, id}; }
// A message box (or the overwrite question, text control `kind`) that must
// be the next one to come up: caption, text, style (-1: any), owner's
// caption; then the button pressed.
Step Box(const std::string &caption, const std::string &text, int style, const std::string &owner, int press,
         int kind = ui::kBoxText)
{
    return {BOX, caption, text, owner, style, press, kind};
}
Step Pick(const std::string &folder) { return {PICK, folder}; }
Step Reads(const Sel &s, const std::string &text) { return {READS, s.caption, text, "", s.id}; }
Step Animates() { return {ANIMATES}; }
Step Timer() { return {TIMER}; }
Step Exit() { return {EXIT}; }
Step Same(const std::string &path, const char *entry) { return {SAME, path, entry}; }
Step Has(const std::string &path, const std::string &text) { return {HAS, path, text}; }
Step Only(const std::string &dir, const std::string &names) { return {ONLY, dir, names}; }
Step Notepad(const std::string &folder) { return {NOTEPAD, folder}; }
Step Moves(int n) { return {MOVES, "", "", "", n}; }
Step Ini(const std::string &target) { return {INI, target}; }
Step Restart() { return {RESTART}; }
Step Reboots(int n) { return {REBOOTS, "", "", "", n}; }
Step Snap() { return {SNAP}; }
Step Unchanged(const std::string &changes) { return {UNCHANGED, changes}; }

// The messages of a run, as the player meets them.
Step Found(const std::string &dir, int press)
{
    return Box(kSetup, "Setup found an application named 'Torvane' in:\n\n" + dir + "\n\nIs this the Torvane folder?",
               MB_YESNO | MB_ICONQUESTION, kSetup, press);
}
Step NotFound()
{
    return Box("Browse", "The Torvane folder could not be found.  You need to find it yourself.  If Torvane is "
               "not installed, you need to install it and then restart Setup", MB_ICONINFORMATION, kSetup, IDOK);
}
Step Overwrite(const std::string &rel, int press)
{
    return Box("Overwrite?", "The file " + rel + " already exists.", -1, kCopying, press, IDC_OVERWRITE_TEXT);
}
Step TempFile(int press)
{
    return Box("Error", "Could not make a temp file.  Try again?", MB_YESNO | MB_ICONQUESTION, kCopying, press);
}
Step DiskError(const std::string &target)
{
    return Box("Error", "The file, " + target + ", could not be copied due to a disk error.  Perhaps you are out "
               "of disk space?", MB_ICONHAND, kCopying, IDOK);
}
Step TooLong(const std::string &rel)
{
    return Box("Error", "The file, " + rel + ", could not be copied because the path of the Torvane folder is too "
               "long.", MB_ICONHAND, kCopying, IDOK);
}
Step Declined() { return Box("Error", kDeclinedText, MB_ICONHAND, kCopying, IDOK); }
Step Failed() { return Box("Error", kFailedText, MB_ICONHAND, kCopying, IDOK); }
Step RestartNt() { return Box("Almost done...", kInUseText + std::string("Please restart now."), MB_ICONINFORMATION, kCopying, IDOK); }
Step Restart9x(int press)
{
    return Box("Almost done...", kInUseText + std::string("Do you want to restart now?"), MB_YESNO | MB_ICONQUESTION,
               kCopying, press);
}
Step Done() { return Box("Done!", "Vexmoor Skyrift has been installed successfully!", MB_ICONEXCLAMATION, kCopying, IDOK); }
Step Corrupt() { return Box("Corrupt Setup", kCorruptText, MB_ICONHAND, "", IDOK); }

// Both entries installed in dir's tvdata\ and nothing else there.
Step Installed(const std::string &dir) { return {INSTALLED, dir}; }

// ------------------------------------------------------------------ files, registry, the program

std::string Read(const std::string &path)
{
    std::string bytes;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "<none>";
    char buf[65536];
    DWORD got;
    while (ReadFile(h, buf, sizeof(buf), &got, NULL) && got)
        bytes.append(buf, got);
    CloseHandle(h);
    return bytes;
}

bool Write(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD put = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
    CloseHandle(h);
    return ok && put == bytes.size();
}

void MakeDirs(const std::string &path)
{
    for (size_t i = 3; i <= path.size(); i++)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), NULL);
}

// Removes what is under dir (and dir itself unless it is a drive's root),
// through the long-path form, so trees deeper than MAX_PATH go too.
void RemoveTree(std::wstring dir)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
        std::wstring child = dir + L"\\" + fd.cFileName;
        if (fd.cFileName[0] == L'.' && (!fd.cFileName[1] || (fd.cFileName[1] == L'.' && !fd.cFileName[2])))
            continue;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(child);
        else
            DeleteFileW(child.c_str());
    }
    FindClose(h);
    RemoveDirectoryW(dir.c_str());
}
void RemoveTree(const std::string &path) { RemoveTree(L"\\\\?\\" + std::wstring(path.begin(), path.end() - (path.back() == '\\'))); }

std::string Listing(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &fd))
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    FindClose(h);
    std::sort(names.begin(), names.end());
    std::string out;
    for (auto &n : names)
        out += (out.empty() ? "" : "|") + n;
    return out;
}

std::string Payload(const std::string &entry) { return Read("X:\\generated\\payload\\" + entry); }

std::string ShortName(const std::string &path)
{
    char s[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), s, MAX_PATH);
    return n && n < MAX_PATH ? s : "<no short name for " + path + ">";
}

std::string WinDir()
{
    char dir[MAX_PATH] = "";
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}

const char kSessionKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Delayed moves registered with the system: pairs of names, the second one
// empty for a deletion.
int PendingMoves()
{
    char buf[8192] = "";
    DWORD size = sizeof(buf) - 2;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSessionKey, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, NULL,
                     buf, &size) != ERROR_SUCCESS)
        return 0;
    int pairs = 0;
    for (const char *p = buf; *p && p < buf + size; pairs++) {
        p += strlen(p) + 1;   // source
        p += strlen(p) + 1;   // target, empty for a deletion
    }
    return pairs;
}

void ForgetPendingReplacements()
{
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionKey, "PendingFileRenameOperations");
    DeleteFileA((WinDir() + "\\wininit.ini").c_str());
    DeleteFileA((WinDir() + "\\wininit.bak").c_str());
}

// The registry and the fixed drives, one entry a value or a file.
using Dump = std::map<std::string, std::string>;

void DumpKey(HKEY root, const std::string &path, Dump *out)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[16384];
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; i++) {
        DWORD nameLen = sizeof(name), dataLen = (DWORD)data.size(), type = 0;
        if (RegEnumValueA(key, i, name, &nameLen, NULL, &type, data.data(), &dataLen) != ERROR_SUCCESS)
            break;
        // Wine's display driver stamps its date here whenever a process
        // opens the display: that is Wine's doing, not the setup's.
        if (strcmp(name, "DriverDateData"))
            (*out)[path + "\\" + name] = std::to_string(type) + ":" + std::string((char *)data.data(), dataLen);
    }
    for (DWORD i = 0;; i++) {
        DWORD nameLen = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameLen, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        DumpKey(root, path.empty() ? name : path + "\\" + name, out);
    }
    RegCloseKey(key);
}

void DumpTree(const std::string &dir, Dump *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &fd)) {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        std::string path = dir + fd.cFileName;
        (*out)[path] = std::to_string(fd.nFileSizeLow) + "@" + std::to_string(fd.ftLastWriteTime.dwLowDateTime);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DumpTree(path + "\\", out);
    }
    FindClose(h);
}

Dump Snapshot()
{
    Dump d;
    DumpKey(HKEY_LOCAL_MACHINE, "", &d);
    DumpKey(HKEY_CURRENT_USER, "", &d);
    for (const char *root : {"C:\\", "D:\\", "F:\\"})
        DumpTree(root, &d);
    return d;
}

std::string Changes(const Dump &before, const Dump &after)
{
    std::vector<std::string> out;
    for (auto &[k, v] : after)
        if (!before.count(k) || before.at(k) != v)
            out.push_back((before.count(k) ? "changed " : "added ") + k);
    for (auto &[k, v] : before)
        if (!after.count(k))
            out.push_back("removed " + k);
    std::sort(out.begin(), out.end());
    std::string text;
    for (auto &c : out)
        text += (text.empty() ? "" : "|") + c;
    return text;
}

// The resource name of a payload entry: its name in capitals.
std::string ResourceName(const std::string &entry)
{
    std::string name = entry;
    for (char &c : name)
        c = (char)toupper((unsigned char)c);
    return name;
}

// Changes the embedded copy of an entry in the program's file: one byte
// flipped, the entry one byte short, or the entry taken out (its name in the
// resource directory changed; the platform's resource update cannot delete).
std::string Patch(const std::string &exe, const Step &s)
{
    std::string image = Read(exe), entry = Payload(s.a);
    size_t at = image.find(entry);
    if (at == std::string::npos)
        return "the entry's bytes are not in the program";
    if (s.op == FLIP) {
        image[at + (s.n < 0 ? entry.size() + s.n : s.n)] ^= (char)s.m;
        return Write(exe, image) ? "" : "cannot write " + exe;
    }
    if (s.op == DROP) {
        std::string wide;
        for (char c : ResourceName(s.a))
            wide += std::string(1, c) + '\0';
        size_t name = image.find(wide);
        if (name == std::string::npos)
            return "no resource name " + s.a;
        image[name + wide.size() - 2] = 'X';
        return Write(exe, image) ? "" : "cannot write " + exe;
    }
    HANDLE h = BeginUpdateResourceA(exe.c_str(), FALSE);
    bool ok = h && UpdateResourceA(h, "DLL", ResourceName(s.a).c_str(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   (void *)entry.data(), (DWORD)(entry.size() + s.n));
    return EndUpdateResourceA(h, !ok) && ok ? "" : "cannot update the resources of " + exe;
}

// The file's properties as Windows reads them: description, product name,
// file and product version, company, copyright, then the numeric versions.
std::string FileProperties(const std::string &exe)
{
    std::vector<char> info(GetFileVersionInfoSizeA(exe.c_str(), NULL) + 1);
    WORD *lang = nullptr;
    UINT len = 0;
    if (!GetFileVersionInfoA(exe.c_str(), 0, (DWORD)info.size(), info.data()) ||
        !VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&lang, &len) || len < 4)
        return "<none>";
    std::string out;
    char key[96], *text;
    for (const char *name : {"FileDescription", "ProductName", "FileVersion", "ProductVersion", "CompanyName",
                             "LegalCopyright"}) {
        snprintf(key, sizeof(key), "\\StringFileInfo\\%04x%04x\\%s", lang[0], lang[1], name);
        out += (VerQueryValueA(info.data(), key, (void **)&text, &len) ? std::string(text) : "<none>") + "|";
    }
    VS_FIXEDFILEINFO *f;
    if (!VerQueryValueA(info.data(), "\\", (void **)&f, &len))
        return out + "<none>";
    snprintf(key, sizeof(key), "%u.%u.%u.%u %u.%u.%u.%u", HIWORD(f->dwFileVersionMS), LOWORD(f->dwFileVersionMS),
             HIWORD(f->dwFileVersionLS), LOWORD(f->dwFileVersionLS), HIWORD(f->dwProductVersionMS),
             LOWORD(f->dwProductVersionMS), HIWORD(f->dwProductVersionLS), LOWORD(f->dwProductVersionLS));
    return out + key;
}

// A hidden window that refuses every request to end the session and counts
// them: a restart asked for by the setup reaches it, and the test bed lives on.
LONG g_restartRequests;

LRESULT CALLBACK RefuseEndSession(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_QUERYENDSESSION) {
        InterlockedIncrement(&g_restartRequests);
        return FALSE;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

DWORD WINAPI RefuseRestarts(LPVOID)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RefuseEndSession;
    wc.lpszClassName = "SkyriftTestsStayUp";
    RegisterClassA(&wc);
    CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

// ------------------------------------------------------------------ running a case

const DWORD kWait = 20000;

class Session {
  public:
    explicit Session(const std::string &name) : name_(name)
    {
        for (const char *drive : {"A:", "D:", "E:", "F:", "H:"})
            RemoveTree(std::string(drive));
        DeleteFileA("C:\\torvane.exe");
        RemoveTree(std::string("C:\\tvdata"));
        ForgetPendingReplacements();
        dir_ = "G:\\e2e\\" + name + "\\";
        RemoveTree(dir_);
        MakeDirs(dir_);
        const char *setup = getenv("SKYRIFT_SETUP");
        exe_ = dir_ + name + ".exe";
        CopyFileA(setup ? setup : "X:\\bin\\VexmoorSkyriftSetup.exe", exe_.c_str(), FALSE);
        CopyFileA("X:\\bin\\tests\\notepad.exe", (dir_ + "notepad.exe").c_str(), FALSE);
        Version("winxp");
        g_restartRequests = 0;
    }
    ~Session()
    {
        if (proc_.hProcess) {
            TerminateProcess(proc_.hProcess, 99);
            WaitForSingleObject(proc_.hProcess, 5000);
            CloseHandle(proc_.hProcess);
        }
        for (HANDLE h : held_)
            CloseHandle(h);
        ForgetPendingReplacements();
    }

    // What went wrong in the step, or "".
    std::string Do(const Step &s)
    {
        switch (s.op) {
        case PUT: MakeDirs(s.a.substr(0, s.a.rfind('\\'))); return Write(s.a, s.b) ? "" : "cannot write " + s.a;
        case GAME: MakeDirs(s.a + "tvdata"); return Write(s.a + "torvane.exe", "MZ") ? "" : "cannot write " + s.a;
        case MKDIR: MakeDirs(s.a); return "";
        case HOLD: held_.push_back(CreateFileA(s.a.c_str(), GENERIC_READ, s.n, NULL, OPEN_EXISTING, 0, NULL));
                   return held_.back() == INVALID_HANDLE_VALUE ? "cannot open " + s.a : "";
        case TREE: for (int i = 0; i < s.n * s.n; i++) MakeDirs(s.a + std::to_string(i / s.n) + "\\" + std::to_string(i % s.n));
                   return "";
        case WIN: return Version(s.a.c_str()) ? "" : "cannot set the version";
        case EXE: return CopyFileA(s.a.c_str(), exe_.c_str(), FALSE) ? "" : "cannot copy " + s.a;
        case PROPERTIES: return Check(FileProperties(exe_), s.a, "the file properties");
        case FLIP: case RESIZE: case DROP: return Patch(exe_, s);
        case NEEDS: return GetFileAttributesA(s.a.c_str()) == INVALID_FILE_ATTRIBUTES ? "skip" : "";
        case START: return Start();
        case CLICK: return Click({s.a, s.n}, s.m);
        case BOX: return Answer(s);
        case PICK: return Pick(s.a);
        case READS: return Check(ui::Reads(Await({s.a, s.n})), s.b, "what " + s.a + " shows");
        case ANIMATES: return Animates();
        case TIMER: PostMessageA(Await(kSearch), WM_TIMER, 0, 0); return "";
        case EXIT: return Exit();
        case INSTALLED: return Check(Read(s.a + "tvdata\\vxmain.vdf") == Payload("vxmain.vdf") &&
                                     Read(s.a + "tvdata\\vxsky_readme.txt") == Payload("vxsky_readme.txt"), true,
                                     "both files installed in " + s.a) + Check(Listing(s.a + "tvdata\\"),
                                     std::string("vxmain.vdf|vxsky_readme.txt"), "files in tvdata");
        case SAME: return Check(Read(s.a) == Payload(s.b), true, s.a + " holds " + s.b);
        case HAS: return Check(Read(s.a), s.b, "the content of " + s.a);
        case ONLY: return Check(Listing(s.a), s.b, "the files in " + s.a);
        case NOTEPAD: return Notepad(s.a);
        case MOVES: return Check(PendingMoves(), s.n, "delayed moves");
        case INI: return Check(RenameSection(), Renames(s.a), "the rename section of WININIT.INI");
        case RESTART: return Reboot();
        case REBOOTS:   // the request reaches the session a moment after the setup made it
            for (int i = 0; i < 50 && g_restartRequests < s.n; i++)
                Sleep(100);
            Sleep(s.n ? 0 : 1000);
            return Check((int)g_restartRequests, s.n, "restart requests") + (g_restartRequests != s.n ? ui::Describe(0) : "");
        case SNAP: snapshot_ = Snapshot(); return "";
        case UNCHANGED: return Check(Changes(snapshot_, Snapshot()), s.a, "changes to the registry and drives");
        }
        return "unknown step";
    }

  private:
    template <typename T> std::string Check(const T &got, const T &want, const std::string &what)
    {
        if (got == want)
            return "";
        std::ostringstream out;
        out << what << ": got\n  " << ::testing::PrintToString(got) << "\nwant\n  " << ::testing::PrintToString(want);
        return out.str();
    }

    bool Version(const char *version)
    {
        std::string key = "Software\\Wine\\AppDefaults\\" + name_ + ".exe";
        return RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Version", REG_SZ, version,
                               (DWORD)strlen(version) + 1) == ERROR_SUCCESS;
    }

    std::string Start()
    {
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        std::string cmd = "\"" + exe_ + "\"";
        if (!CreateProcessA(exe_.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL, dir_.c_str(), &si, &proc_))
            return "cannot start " + exe_;
        CloseHandle(proc_.hThread);
        return "";
    }

    // A window that asks the player something: a message box, the overwrite
    // question or the folder picker.
    bool Asks(HWND w)
    {
        return IsWindowEnabled(w) && (ui::IsBox(w) ||
                                      ui::Is(w, {"Overwrite?", IDC_YESTOALL}) || ui::Is(w, kPicker));
    }

    HWND NewQuestion()
    {
        for (HWND w : ui::Dialogs(proc_.dwProcessId))
            if (!answered_.count(w) && Asks(w))
                return w;
        return NULL;
    }

    // Polls until found() gives a window; fails when the setup ends, when a
    // question comes up that the step does not expect, or after kWait.
    template <typename F> HWND Poll(F found, std::string *err, bool questionsAllowed = false)
    {
        for (DWORD start = GetTickCount(); GetTickCount() - start < kWait; Sleep(20)) {
            if (HWND w = found())
                return w;
            if (!questionsAllowed && NewQuestion()) {
                *err = "an unexpected question came up\n" + ui::Describe(proc_.dwProcessId);
                return NULL;
            }
            DWORD code = 0;
            if (GetExitCodeProcess(proc_.hProcess, &code) && code != STILL_ACTIVE) {
                *err = "the setup ended with code " + std::to_string(code);
                return NULL;
            }
        }
        *err = "timed out\n" + ui::Describe(proc_.dwProcessId);
        return NULL;
    }

    HWND Await(const Sel &s)
    {
        std::string err;
        return Poll([&] { return ui::Find(proc_.dwProcessId, s, 0); }, &err, true);
    }

    // Presses a button of the dialog, which then goes away (hidden, closed,
    // or covered by a question that the press brought up).
    std::string Click(const Sel &s, int id)
    {
        std::string err;
        HWND w = Poll([&] {
            HWND found = ui::Find(proc_.dwProcessId, s, 0);
            return found && ui::Press(found, id) ? found : NULL;
        }, &err);
        return w ? Close(w, 0) : "pressing " + std::to_string(id) + " on " + s.caption + ": " + err;
    }

    // The next question must be the step's: its caption, text, style and
    // owner are checked, then the step's button is pressed.
    std::string Answer(const Step &s)
    {
        std::string err;
        HWND w = Poll([&] { return NewQuestion(); }, &err, true);
        if (!w)
            return "waiting for \"" + s.a + "\": " + err;
        answered_.insert(w);
        std::string got = ui::Caption(w) + " / " + ui::Text(w, s.k) + " / owner " + ui::Owner(w);
        err = Check(got, s.a + " / " + s.b + " / owner " + s.c, "the question");
        if (err.empty() && s.n >= 0)
            err = Check(ui::Style(w), s.n, "the style of \"" + s.a + "\"");
        return err.empty() ? Close(w, s.m) : err;
    }

    // Presses the button (0: already pressed) and waits for the window to go,
    // or to be covered by one that the press opened.
    std::string Close(HWND w, int press)
    {
        bool pressed = !press;
        for (DWORD start = GetTickCount(); GetTickCount() - start < kWait; Sleep(20)) {
            if (!IsWindow(w) || !IsWindowVisible(w) || !IsWindowEnabled(w))
                return "";
            pressed = pressed || ui::Press(w, press);
        }
        return "\"" + ui::Caption(w) + "\" stays after pressing " + std::to_string(press);
    }

    std::string Pick(const std::string &folder)
    {
        std::string err;
        HWND w = Poll([&] { return NewQuestion(); }, &err, true);
        if (!w || !ui::Is(w, kPicker))
            return "no folder picker: " + err + ui::Describe(proc_.dwProcessId);
        answered_.insert(w);
        if (folder.empty())
            return Close(w, IDCANCEL);
        // the picker's own message selects a folder in its tree, as a click there would
        HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, proc_.dwProcessId);
        void *remote = VirtualAllocEx(p, NULL, MAX_PATH, MEM_COMMIT, PAGE_READWRITE);
        std::string path = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        WriteProcessMemory(p, remote, path.c_str(), path.size() + 1, NULL);
        DWORD_PTR r;
        SendMessageTimeoutA(w, BFFM_SETSELECTIONA, TRUE, (LPARAM)remote, SMTO_ABORTIFHUNG, 5000, &r);
        err = Close(w, IDOK);
        VirtualFreeEx(p, remote, 0, MEM_RELEASE);
        CloseHandle(p);
        return err;
    }

    // The clip plays: with the not-found notice moved aside, the picture of
    // the animation changes from frame to frame.
    std::string Animates()
    {
        std::string err;
        HWND notice = Poll([&] { return NewQuestion(); }, &err, true);
        if (!notice)
            return err;
        SetWindowPos(notice, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        HWND clip = GetDlgItem(Await(kSearch), IDC_ANIMATE);
        std::set<unsigned> frames;
        for (int i = 0; i < 12; i++, Sleep(170))
            frames.insert(ui::Pixels(clip));
        return frames.size() >= 4 ? "" : "the clip shows " + std::to_string(frames.size()) + " pictures in 2 s";
    }

    std::string Exit()
    {
        DWORD code = 99;
        if (WaitForSingleObject(proc_.hProcess, kWait) != WAIT_OBJECT_0)
            return "the setup does not end\n" + ui::Describe(proc_.dwProcessId);
        GetExitCodeProcess(proc_.hProcess, &code);
        return Check((int)code, 0, "the exit code");
    }

    std::string Notepad(const std::string &folder)
    {
        std::string log = dir_ + "notepad.log", want = "<none>";
        if (!folder.empty()) {
            want = "notepad \"" + folder + "tvdata/vxsky_readme.txt\"\r\n";
            for (int i = 0; i < 100 && Read(log) == "<none>"; i++)
                Sleep(50);
        }
        return Check(Read(log), want, "the read-me command");
    }

    std::string RenameSection()
    {
        char buf[4096] = "";
        DWORD n = GetPrivateProfileSectionA("rename", buf, sizeof(buf), (WinDir() + "\\wininit.ini").c_str());
        std::string out;
        for (const char *p = buf; p < buf + n && *p; p += strlen(p) + 1)
            out += std::string(p) + "\n";
        return out;
    }

    // The entries of the rename section for the targets: short names only.
    std::string Renames(const std::string &targets)
    {
        std::string out;
        for (size_t at = 0; at < targets.size();) {
            size_t end = std::min(targets.find('|', at), targets.size());
            std::string t = targets.substr(at, end - at);
            out += ShortName(t) + "=" + ShortName(t.substr(0, t.size() - 3) + "000") + "\n";
            at = end + 1;
        }
        return out;
    }

    // The system's restart work: delayed moves and the rename section.
    std::string Reboot()
    {
        for (HANDLE h : held_)   // a restart ends every program
            CloseHandle(h);
        held_.clear();
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        char cmd[] = "wineboot.exe -r";
        if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return "cannot run wineboot";
        WaitForSingleObject(pi.hProcess, kWait);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return "";
    }

    std::string name_, dir_, exe_;
    PROCESS_INFORMATION proc_ = {};
    std::set<HWND> answered_;
    std::vector<HANDLE> held_;
    Dump snapshot_;
};

// ------------------------------------------------------------------ the cases

const std::string kGame = "D:\\Games\\Torvane\\", kData = kGame + "tvdata\\";
const std::string kMain = kData + "vxmain.vdf", kReadme = kData + "vxsky_readme.txt";
const Step kInstall = Click(kWelcome, IDOK), kQuit = Click(kWelcome, IDCANCEL);
const std::string kProperties = "Vexmoor Skyrift Setup|Vexmoor Skyrift|" SKYRIFT_VERSION "|" SKYRIFT_VERSION "|"
    SKYRIFT_PUBLISHER "|" SKYRIFT_COPYRIGHT "|" SKYRIFT_VERSION ".0 " SKYRIFT_VERSION ".0";
const std::string kWelcomeText = "Install|Cancel|Welcome to Vexmoor Skyrift|This will install the Vexmoor Skyrift "
    "Addon to your computer.|Note that you must have Torvane installed in order to install this addon.||After you "
    "press Install, the installer will search your hard drives for your Torvane folder.|<icon>";

std::vector<Case> StartupCases()
{
    std::vector<Case> cases = {
        {"WelcomeThenCancel", {Start(), Reads(kWelcome, kWelcomeText), kQuit, Exit(), Notepad("")}},
        {"CloseBoxEndsLikeCancel", {Start(), Click(kWelcome, ui::kCloseBox), Exit()}},
        // an old system is refused before the payload is looked at
        {"OldWindows", {Win("win31"), Flip("vxmain.vdf", 0, 1), Start(),
                        Box("Sorry!", "You need at least Windows 95 or Windows NT 4.0 to run Torvane as well as this "
                            "installer.", MB_ICONHAND, "", IDOK), Exit()}},
        {"EntryOneByteShort", {Resize("vxmain.vdf", -1), Start(), Corrupt(), Exit()}},
        {"ReadMeOneByteShort", {Resize("vxsky_readme.txt", -1), Start(), Corrupt(), Exit()}},
        {"EntryMissing", {Drop("vxmain.vdf"), Start(), Corrupt(), Exit()}},
        {"ReadMeMissing", {Drop("vxsky_readme.txt"), Start(), Corrupt(), Exit()}},
        // the file's properties name the product, its version and its publisher
        {"FileProperties", {Properties(kProperties)}},
        // the same bytes written back: the check is on the contents, not their place
        {"EntryRewritten", {Resize("vxsky_readme.txt", 0), Start(), kQuit, Exit()}},
    };
    // one changed byte anywhere in either entry: both ends, the middle, random places
    std::mt19937 rng(20261207);
    for (const char *entry : {"vxmain.vdf", "vxsky_readme.txt"}) {
        int size = (int)Payload(entry).size();
        for (int at : {0, size / 2, -1, (int)(rng() % size), (int)(rng() % size)}) {
            int bits = 1 << (rng() % 8) | (at == size / 2 ? 0xFF : 0);
            cases.push_back({"Flip" + std::to_string(cases.size()), {Flip(entry, at, bits), Start(), Corrupt(), Exit()}});
        }
    }
    return cases;
}

// The publisher's signed release (made by the release test), and a copy of
// it with one byte of an embedded entry changed.
const std::vector<Case> kReleaseCases = {
    {"Signed", {Exe("X:\\release\\dist\\VexmoorSkyriftSetup.exe"), Start(), Reads(kWelcome, kWelcomeText), kQuit, Exit(),
                Properties("Vexmoor Skyrift Setup|Vexmoor Skyrift|" SKYRIFT_VERSION "|" SKYRIFT_VERSION "|Throwaway \"Test\" "
                           "Publisher|Copyright (C) Throwaway \"Test\" Publisher|" SKYRIFT_VERSION ".0 " SKYRIFT_VERSION ".0")}},
    {"SignedWithAChangedByte", {Exe("X:\\release\\corrupt\\VexmoorSkyriftSetup.exe"), Start(), Corrupt(), Exit()}},
};

const std::vector<Case> kSearchCases = {
    // pre-order: a declined folder is still searched below; drives in letter order
    {"DeclinedFolderIsSearchedBelow", {Game(kGame), Game(kGame + "Backup\\"), Game("F:\\Torvane\\"), Start(), kInstall,
        Found(kGame, IDNO), Found(kGame + "Backup\\", IDNO), Found("F:\\Torvane\\", IDYES), Done(), Exit(),
        Installed("F:\\Torvane\\"), Only(kData, ""), Only(kGame + "Backup\\tvdata\\", "")}},
    {"DriveRoot", {Put("C:\\torvane.exe"), Mkdir("C:\\tvdata\\"), Start(), kInstall, Found("C:\\", IDYES), Done(), Exit(),
        Installed("C:\\"), Notepad("C:\\")}},
    // floppy, CD-ROM and network drives are passed over by their type
    {"NothingFoundOpensThePicker", {Game("A:\\"), Game("E:\\Torvane\\"), Game("G:\\e2e\\Torvane\\"), Mkdir(kData),
        Start(), kInstall, Animates(), NotFound(), Pick(kGame), Done(), Exit(), Installed(kGame), Notepad(kGame)}},
    {"PickedDriveRoot", {Mkdir("F:\\tvdata\\"), Start(), kInstall, NotFound(), Pick("F:\\"), Done(), Exit(),
        Installed("F:\\"), Notepad("F:\\")}},
    {"CancelledPickerThenSearchAgain", {Start(), kInstall, NotFound(), Pick(""), Game(kGame), kInstall,
        Found(kGame, IDYES), Done(), Exit()}},
    {"CancelledSearchThenSearchAgain", {Game(kGame), Tree("F:\\wide\\", 40), Start(), kInstall, Found(kGame, IDNO),
        Click(kSearch, IDCANCEL), kInstall, Found(kGame, IDNO), Click(kSearch, IDCANCEL), kQuit, Exit(),
        Only(kData, "")}},
    {"StrayNotificationIsIgnored", {Tree("D:\\wide\\", 30), Game("F:\\Torvane\\"), Start(), kInstall, Timer(), Found("F:\\Torvane\\", IDYES),
        Done(), Exit()}},
};

const std::vector<Case> kInstallCases = {
    {"CleanRunChangesOnlyTheDataFolder", {Game(kGame), Snap(), Start(), kInstall, Found(kGame, IDYES),
        Reads({kCopying, -1}, "Setup is now copying the Vexmoor Skyrift files to your computer.|<icon>"), Done(),
        Exit(), Installed(kGame), Notepad(kGame),
        Unchanged("added " + kMain + "|added " + kReadme + "|changed D:\\Games\\Torvane\\tvdata")}},
    {"Windows95", {Win("win95"), Game(kGame), Start(), kInstall, Found(kGame, IDYES), Done(), Exit(), Installed(kGame)}},
    // No, then Yes to All: the second Install asks nothing more
    {"DeclinedThenYesToAllLasts", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), Overwrite("tvdata\\vxsky_readme.txt", IDC_YESTOALL),
        Declined(), Has(kMain, "old"), Same(kReadme, "vxsky_readme.txt"), Notepad(""), kInstall, Found(kGame, IDYES),
        Done(), Exit(), Installed(kGame)}},
    {"EnterIsYesAndTheCloseBoxIsNo", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", ui::kEnter), Overwrite("tvdata\\vxsky_readme.txt", ui::kCloseBox),
        Declined(), Same(kMain, "vxmain.vdf"), Has(kReadme, "old"), kQuit, Exit()}},
    // after a failed run, a search cancelled at once goes back to the welcome dialog
    {"FailedRunThenCancelledSearch", {Game(kGame), Put(kMain, "old"), Tree("F:\\wide\\", 40), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), Declined(), kInstall, Found(kGame, IDNO),
        Click(kSearch, IDCANCEL), kQuit, Exit()}},
    {"NoDataFolder", {Put(kGame + "torvane.exe"), Start(), kInstall, Found(kGame, IDYES), TempFile(IDYES), TempFile(IDNO),
        TempFile(IDNO), Failed(), kQuit, Exit(), Only(kGame, "torvane.exe")}},
    // the longest folder whose targets the expand-copy takes, and one more
    {"LongestFolder", {Game("D:\\" + std::string(100, 'x') + "\\"), Start(), kInstall,
        Found("D:\\" + std::string(100, 'x') + "\\", IDYES), Done(), Exit(), Installed("D:\\" + std::string(100, 'x') + "\\")}},
    {"FolderOneTooLong", {Game("D:\\" + std::string(101, 'x') + "\\"), Start(), kInstall,
        Found("D:\\" + std::string(101, 'x') + "\\", IDYES), TooLong("tvdata\\vxsky_readme.txt"), Failed(), kQuit, Exit(),
        Same("D:\\" + std::string(101, 'x') + "\\tvdata\\vxmain.vdf", "vxmain.vdf")}},
};

const std::vector<Case> kInUseCases = {
    {"InUseOnNt", {Game(kGame), Put(kMain, "running"), Hold(kMain, FILE_SHARE_READ), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), RestartNt(), Exit(), Reboots(0), Notepad(""),
        Has(kMain, "running"), Same(kData + "vxmain.000", "vxmain.vdf"), Moves(2), Restart(),
        Installed(kGame)}},
    // a file that even the existence test cannot open is not asked about
    {"LockedOnNt", {Game(kGame), Put(kReadme, "locked"), Hold(kReadme, 0), Start(), kInstall, Found(kGame, IDYES),
        RestartNt(), Exit(), Same(kData + "vxsky_readme.000", "vxsky_readme.txt"), Restart(), Installed(kGame)}},
    {"InUseOn98RestartLater", {Win("win98"), Game(kGame), Put(kMain, "a"), Put(kReadme, "b"), Hold(kMain, 0),
        Hold(kReadme, 0), Start(), kInstall, Found(kGame, IDYES), Restart9x(IDNO), Exit(), Reboots(0), Moves(0),
        Ini(kMain + "|" + kReadme), Restart(), Installed(kGame)}},
    {"InUseOn98RestartNow", {Win("win98"), Game(kGame), Put(kReadme, "b"), Hold(kReadme, 0), Start(), kInstall,
        Found(kGame, IDYES), Restart9x(IDYES), Exit(), Reboots(1), Ini(kReadme)}},
    {"DeferredAndFailed", {Game(kGame), Put(kMain, "a"), Hold(kMain, 0), Mkdir(kData + "vxsky_readme.tmp"), Start(),
        kInstall, Found(kGame, IDYES), TempFile(IDNO), Failed(), RestartNt(), Exit(), Notepad("")}},
};

const std::vector<Case> kFailureCases = {
    {"DeclinedThenFailed", {Game(kGame), Put(kMain, "old"), Mkdir(kData + "vxsky_readme.tmp"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), TempFile(IDNO), Declined(), Failed(), kQuit, Exit()}},
    {"TargetIsAFolder", {Game(kGame), Mkdir(kData + "vxmain.vdf"), Start(), kInstall, Found(kGame, IDYES), RestartNt(),
        Exit(), Same(kData + "vxmain.000", "vxmain.vdf")}},
    {"SideNameTaken", {Game(kGame), Put(kMain, "a"), Hold(kMain, 0), Mkdir(kData + "vxmain.000"), Start(), kInstall,
        Found(kGame, IDYES), Box("Create Failed", kData + "vxmain.000", MB_OK, kCopying, IDOK), Failed(), kQuit,
        Exit(), Moves(0), Only(kData, "vxmain.000|vxmain.vdf|vxsky_readme.txt")}},
    // a small drive: the temporary file fits, the copy beside it does not
    {"FullDisk", {Needs("H:\\"), Game("H:\\"), Start(), kInstall, Found("H:\\", IDYES),
        DiskError("H:\\tvdata\\vxmain.vdf"), Failed(), kQuit, Exit(), Only("H:\\tvdata\\", "vxsky_readme.txt")}},
};

// ------------------------------------------------------------------ gtest

struct E2E : ::testing::TestWithParam<Case> {
    static void SetUpTestSuite()
    {
        static HANDLE refusing = CreateThread(NULL, 0, RefuseRestarts, NULL, 0, NULL);
        (void)refusing;
    }
};

TEST_P(E2E, Steps)
{
    const Case &c = GetParam();
    Session run(c.name);
    for (size_t i = 0; i < c.steps.size(); i++) {
        std::string err = run.Do(c.steps[i]);
        if (err == "skip")
            GTEST_SKIP() << "the test bed has no such drive";
        ASSERT_TRUE(err.empty()) << "step " << i + 1 << " of " << c.name << ": " << err;
    }
}

std::string Name(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }
void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(Startup, E2E, ::testing::ValuesIn(StartupCases()), Name);
INSTANTIATE_TEST_SUITE_P(Search, E2E, ::testing::ValuesIn(kSearchCases), Name);
INSTANTIATE_TEST_SUITE_P(Install, E2E, ::testing::ValuesIn(kInstallCases), Name);
INSTANTIATE_TEST_SUITE_P(InUse, E2E, ::testing::ValuesIn(kInUseCases), Name);
INSTANTIATE_TEST_SUITE_P(Failures, E2E, ::testing::ValuesIn(kFailureCases), Name);
INSTANTIATE_TEST_SUITE_P(Release, E2E, ::testing::ValuesIn(kReleaseCases), Name);

}  // namespace
