// The real setup in a process of its own, driven as a player drives it: each
// case is a script of steps (arrange the drives, answer a window, check the disk).
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>

#include "resources/resource.h"
#include "ui.h"

namespace {

using ui::Ansi, ui::Read, ui::Sel;
const DWORD kWait = 20000;
const char kSetup[] = "Vexmoor Skyrift Setup", kCopying[] = "Copying files...";
const Sel kWelcome{kSetup, IDOK}, kSearch{kSetup, IDC_ANIMATE};

template <typename T> std::string Check(const T &got, const T &want, const std::string &what)
{
    if (got == want)
        return "";
    std::ostringstream out;
    out << what << ": got\n  " << ::testing::PrintToString(got) << "\nwant\n  " << ::testing::PrintToString(want);
    return out.str();
}

std::string Payload(const std::string &entry) { return Read("X:\\generated\\payload\\" + entry); }

std::string ShortName(const std::string &path)
{
    char s[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), s, MAX_PATH);
    return n && n < MAX_PATH ? s : "<no short name for " + path + ">";
}

const std::string kIni = "C:\\windows\\wininit.ini";
const char kSessionKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Delayed moves registered with the system: pairs of names (the second empty for a deletion).
int PendingMoves()
{
    char buf[8192] = "";
    DWORD size = sizeof(buf) - 2;
    int pairs = 0;
    RegGetValueA(HKEY_LOCAL_MACHINE, kSessionKey, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, NULL, buf, &size);
    for (const char *p = buf; *p; pairs++, p += strlen(p) + 1)
        p += strlen(p) + 1;
    return pairs;
}

void Pump()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
}

// A hidden window that counts and refuses requests to end the session: the bed lives on.
LONG g_restartRequests;

LRESULT CALLBACK RefuseEndSession(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg != WM_QUERYENDSESSION)
        return DefWindowProcA(w, msg, wp, lp);
    InterlockedIncrement(&g_restartRequests);
    return FALSE;
}

DWORD WINAPI RefuseRestarts(LPVOID)
{
    WNDCLASSA wc = {};
    wc.lpszClassName = "SkyriftTestsStayUp";
    wc.lpfnWndProc = RefuseEndSession;
    RegisterClassA(&wc);
    CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    return Pump(), 0;
}

// A window of the tests' own, brought to the front as by a player who turns to another program.
HWND g_elsewhere;

DWORD WINAPI ShowElsewhere(LPVOID made)
{
    g_elsewhere = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, NULL,
                                  NULL, NULL, NULL);
    SetEvent(made);
    return Pump(), 0;
}

// The host's path of a drive path whose folder exists (Wine's own call).
std::string UnixPath(const std::string &path)
{
    static auto unix = (char *(CDECL *)(LPCWSTR))(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32"),
                                                                               "wine_get_unix_file_name");
    char *got = unix ? unix(std::wstring(path.begin(), path.end()).c_str()) : nullptr;
    std::string name = got ? got : "";
    return HeapFree(GetProcessHeap(), 0, got), name;
}

// A command of the host's shell. Wine starts a Unix program as it starts a Windows one but gives
// no handle to wait on, so the command leaves a mark when it is done. Links are made so (Wine's
// CreateSymbolicLink does nothing), with a mark of their own until they are taken away, before
// anything walks or deletes through them.
const std::string kLinked = "G:\\e2e\\links.made";
bool Shell(const std::string &command)
{
    const std::string mark = "G:\\e2e\\shell.done";
    PROCESS_INFORMATION p;
    ui::MakeDirs("G:\\e2e");
    DeleteFileA(mark.c_str());
    if (!ui::Run("\\\\?\\unix\\bin\\sh -c \"" + command + " && : >'" + UnixPath(mark) + "'\"", NULL, &p))
        return false;
    for (DWORD start = GetTickCount(); GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES; Sleep(20))
        if (GetTickCount() - start > kWait)
            return false;
    return true;
}
bool Layout(const char *how)
{
    return (strcmp(how, "on") ? DeleteFileA(kLinked.c_str()) : ui::Put(kLinked, "")) &&
           Shell("bash '" SKYRIFT_BED_SCRIPT "' links '" + std::string(getenv("SKYRIFT_BED")) + "' " + how);
}

// One case: a copy of the setup in a folder of its own, on emptied drives; the
// system's Notepad is a stand-in that logs how it was started.
class Session {
  public:
    explicit Session(const std::string &name) : name(name), dir("G:\\e2e\\" + name + "\\"), exe(dir + name + ".exe")
    {
        // the wide trees moved aside in one rename each: the bed's next start removes them
        static int moved = 0;
        ui::MakeDirs("G:\\trash");
        for (const char *wide : {"D:\\wide", "F:\\wide"})
            MoveFileA(wide, ("G:\\trash\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++moved)).c_str());
        if (GetFileAttributesA(kLinked.c_str()) != INVALID_FILE_ATTRIBUTES)
            Layout("off");
        for (const char *drive : {"A:", "D:", "E:", "F:", "H:", "C:\\tvdata", "C:\\Games"})
            ui::RemoveTree(std::string(drive));
        DeleteFileA("C:\\torvane.exe");
        ui::RemoveTree(dir);
        ui::MakeDirs(dir);
        const char *setup = getenv("SKYRIFT_SETUP");
        CopyFileA(setup ? setup : "X:\\bin\\VexmoorSkyriftSetup.exe", exe.c_str(), FALSE);
        ui::EndAll("notepad.exe");
        CopyFileA("X:\\bin\\tests\\notepad.exe", "C:\\windows\\notepad.exe", FALSE);
        SetEnvironmentVariableA("SKYRIFT_NOTEPAD_LOG", (dir + "notepad.log").c_str());
        ForgetReplacements();
        ui::ReportVersion(name + ".exe", "winxp");
        ui::LoadOrder(name + ".exe", {}, NULL);
        g_restartRequests = 0;
    }
    ~Session()
    {
        TerminateProcess(proc.hProcess, 99);
        WaitForSingleObject(proc.hProcess, 5000);
        CloseHandle(proc.hProcess);
        ui::EndAll("notepad.exe");   // it holds the output ctest reads to its end
        Release();
    }

    static void ForgetReplacements()
    {
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionKey, "PendingFileRenameOperations");
        DeleteFileA(kIni.c_str());
        DeleteFileA("C:\\windows\\wininit.bak");
    }
    void Release()
    {
        for (HANDLE h : held)
            CloseHandle(h);
        held.clear();
    }

    // Polls for found(); fails when the setup ends, an unexpected question comes up, or after kWait.
    template <typename F> HWND Poll(F found, std::string *err, bool questionsAllowed = false)
    {
        DWORD code = 0;
        for (DWORD start = GetTickCount(); GetTickCount() - start < kWait; Sleep(20)) {
            if (HWND w = found())
                return w;
            if (!questionsAllowed && NewQuestion())
                return *err = "an unexpected question came up\n" + ui::Describe(proc.dwProcessId), nullptr;
            if (GetExitCodeProcess(proc.hProcess, &code) && code != STILL_ACTIVE)
                return *err = "the setup ended with code " + std::to_string(code), nullptr;
        }
        return *err = "timed out\n" + ui::Describe(proc.dwProcessId), nullptr;
    }
    // An unanswered message box, overwrite question or folder picker.
    HWND NewQuestion()
    {
        for (HWND w : ui::Dialogs(proc.dwProcessId))
            if (!answered.count(w) && IsWindowEnabled(w) &&
                (ui::IsBox(w) || ui::Is(w, {"Overwrite?", IDC_YESTOALL}) || ui::IsPicker(w)))
                return w;
        return NULL;
    }
    HWND Question(std::string *err) { return Poll([&] { return NewQuestion(); }, err, true); }
    HWND Await(const Sel &s, std::string *err) { return Poll([&] { return ui::Find(proc.dwProcessId, s); }, err, true); }

    std::string Close(HWND w, int press) { return ui::Close(w, press, kWait) ? "" : "\"" + ui::Caption(w) + "\" stays after the press"; }

    std::string name, dir, exe;
    PROCESS_INFORMATION proc = {};
    std::set<HWND> answered;
    std::vector<HANDLE> held;
};

// A step does its part of the case and tells what went wrong ("" for nothing).
using Step = std::function<std::string(Session &)>;
struct Case {
    std::string name;
    std::vector<Step> steps;
};

Step Put(const std::string &path, const std::string &text = "MZ")
{
    return [=](Session &) { return ui::Put(path, text) ? "" : "cannot write " + path; };
}
Step Mkdir(const std::string &path) { return [=](Session &) { return ui::MakeDirs(path), ""; }; }
Step Game(const std::string &dir) { return [=](Session &s) { return Mkdir(dir + "tvdata")(s) + Put(dir + "torvane.exe")(s); }; }
Step Tree(const std::string &root, int width)
{
    return [=](Session &) {   // each folder made once: thousands of them
        ui::MakeDirs(root);
        for (int i = 0; i < width * (width + 1); i++)   // folder i, then its width folders
            CreateDirectoryA((root + std::to_string(i / (width + 1)) +
                              (i % (width + 1) ? "\\" + std::to_string(i % (width + 1) - 1) : "")).c_str(), NULL);
        return "";
    };
}
// Keeps a file open for reading as another program would, sharing as told.
Step Hold(const std::string &path, int share)
{
    return [=](Session &s) {
        s.held.push_back(CreateFileA(path.c_str(), GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL));
        return s.held.back() == INVALID_HANDLE_VALUE ? "cannot open " + path : "";
    };
}
Step ReadOnly(const std::string &path)
{
    return [=](Session &) { return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) ? "" : "cannot mark " + path; };
}
Step Win(const char *version) { return [=](Session &s) { return ui::ReportVersion(s.name + ".exe", version) ? "" : "cannot set the version"; }; }
Step Off(const std::string &library)
{
    return [=](Session &s) { return ui::LoadOrder(s.name + ".exe", {library}, "") ? "" : "cannot set the load order"; };
}
Step Exe(const std::string &path) { return [=](Session &s) { return CopyFileA(path.c_str(), s.exe.c_str(), FALSE) ? "" : "no " + path; }; }
Step Needs(const std::string &root) { return [=](Session &) { return GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES ? "skip" : ""; }; }

// An entry embedded in the setup's file: one byte flipped (at from the end when
// negative), resized, or dropped (renamed: the resource update cannot delete).
enum Change { FLIP, RESIZE, DROP };
Step Patch(Change change, const std::string &entry, int at = 0, int bits = 0)
{
    return [=](Session &s) -> std::string {
        std::string image = Read(s.exe), bytes = Payload(entry), name = entry, wide;
        size_t where = image.find(bytes);
        for (char &c : name)
            wide += std::string(1, c = (char)toupper((unsigned char)c)) + '\0';
        if (where == std::string::npos || image.find(wide) == std::string::npos)
            return "the entry is not in the program";
        if (change == FLIP)
            image[where + (at < 0 ? bytes.size() + at : at)] ^= (char)bits;
        if (change == DROP)
            image[image.find(wide) + wide.size() - 2] = 'X';
        if (change != RESIZE)
            return ui::Put(s.exe, image) ? "" : "cannot write " + s.exe;
        HANDLE h = BeginUpdateResourceA(s.exe.c_str(), FALSE);
        bool ok = h && UpdateResourceA(h, "DLL", name.c_str(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                       (void *)bytes.data(), (DWORD)(bytes.size() + at));
        return EndUpdateResourceA(h, !ok) && ok ? "" : "cannot update the resources of " + s.exe;
    };
}

// The dialogs each process made, told by an event hook as each is made: polling misses one up for a moment only.
std::mutex g_madeLock;
std::map<DWORD, std::vector<std::string>> g_made;

void CALLBACK Made(HWINEVENTHOOK, DWORD, HWND w, LONG object, LONG, DWORD, DWORD)
{
    DWORD pid = 0;
    std::lock_guard<std::mutex> hold(g_madeLock);
    if (object == OBJID_WINDOW && GetClassLongPtrA(w, GCW_ATOM) == (ULONG_PTR)WC_DIALOG && GetWindowThreadProcessId(w, &pid))
        g_made[pid].push_back(ui::Caption(w));
}

DWORD WINAPI WatchMade(LPVOID watching)
{
    SetEvent(SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, NULL, Made, 0, 0,
                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS) ? watching : NULL);
    return Pump(), 0;
}

// The setup started from its folder, its dialogs watched from the start.
bool Launch(Session &s, const std::string &args, PROCESS_INFORMATION *p)
{
    static HANDLE watching = CreateEventA(NULL, TRUE, FALSE, NULL);
    [[maybe_unused]] static HANDLE watch = CreateThread(NULL, 0, WatchMade, watching, 0, NULL);
    if (WaitForSingleObject(watching, kWait) || !ui::Run("\"" + s.exe + "\" " + args, s.dir.c_str(), p))
        return false;
    std::lock_guard<std::mutex> hold(g_madeLock);   // those an earlier process of the same id made
    return g_made.erase(p->dwProcessId), true;
}

Step Start(const std::string &args = "")
{
    return [=](Session &s) { return Launch(s, args, &s.proc) ? "" : "cannot start " + s.exe; };
}

// A button pressed or a key typed, once, on a dialog that is up; Click then waits for it to go.
Step Type(const Sel &sel, int what, bool goes = false)
{
    return [=](Session &s) {
        std::string err;
        HWND w = s.Poll([&] {
            HWND found = ui::Find(s.proc.dwProcessId, sel);
            return found && ui::Press(found, what) ? found : NULL;
        }, &err);
        return !w ? "pressing " + std::to_string(what) + " on " + sel.caption + ": " + err : goes ? s.Close(w, 0) : "";
    };
}
Step Click(const Sel &sel, int id) { return Type(sel, id, true); }

// The next question: caption, text (of control kind), style (-1: any) and owner checked, then pressed.
Step Box(const std::string &caption, const std::string &text, int style, const std::string &owner, int press,
         int kind = ui::kBoxText)
{
    return [=](Session &s) {
        std::string err;
        HWND w = s.Question(&err);
        if (!w)
            return "waiting for \"" + caption + "\": " + err;
        s.answered.insert(w);
        err = Check(ui::Caption(w) + " / " + ui::Text(w, kind) + " / owner " + ui::Owner(w),
                    caption + " / " + text + " / owner " + owner, "the question");
        if (err.empty() && style >= 0)
            err = Check(ui::Style(w), style, "the style of \"" + caption + "\"");
        return err.empty() ? s.Close(w, press) : err;
    };
}

// The folder picker: the folder chosen as a click in its tree would, then OK ("": Cancel).
Step Pick(const std::string &folder)
{
    return [=](Session &s) {
        std::string err, path = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        HWND w = s.Question(&err);
        if (!w || !ui::IsPicker(w))
            return "no folder picker: " + err + ui::Describe(s.proc.dwProcessId);
        s.answered.insert(w);
        if (folder.empty())
            return s.Close(w, IDCANCEL);
        // Wine's picker may miss a choice while its tree fills in: chosen until it shows
        const char *name = path.c_str();
        for (const char *p = name; *p; p = CharNextA(p))
            name = *p == '\\' && p[1] ? p + 1 : name;
        for (DWORD start = GetTickCount(); GetTickCount() - start < kWait; Sleep(100))
            if (ui::Choose(w, path) && (path.size() <= 3 ? !ui::Chosen(w).empty() : ui::Chosen(w) == name))
                return s.Close(w, IDOK);
        return "cannot choose " + path + "; the picker shows \"" + ui::Chosen(w) + "\" selected";
    };
}

// The dialog is in front with the keyboard's focus on its control id.
Step Focused(const Sel &sel, int id, bool question = false)
{
    return [=](Session &s) {
        std::string err;
        HWND w = s.Poll([&] {
            HWND found = ui::Find(s.proc.dwProcessId, sel), focus = found ? ui::Focus(found) : NULL;
            return found && GetForegroundWindow() == found && IsChild(found, focus) && GetDlgCtrlID(focus) == id ? found : NULL;
        }, &err, question);
        if (w)
            return std::string();
        HWND front = GetForegroundWindow(), focus = front ? ui::Focus(front) : NULL;
        return "the focus on " + std::to_string(id) + " of " + sel.caption + ": " + err + "\nin front: \"" +
               ui::Caption(front) + "\", the focus on " + (focus ? "\"" + ui::Caption(focus) + "\"" : "nothing");
    };
}

Step Up(const Sel &sel)
{
    return [=](Session &s) { std::string err; return s.Await(sel, &err) ? "" : "waiting for \"" + sel.caption + "\": " + err; };
}

Step Elsewhere()
{
    return [](Session &) -> std::string {
        static HANDLE made = CreateEventA(NULL, TRUE, FALSE, NULL);
        [[maybe_unused]] static HANDLE shows = CreateThread(NULL, 0, ShowElsewhere, made, 0, NULL);
        WaitForSingleObject(made, kWait);
        // a setup window just coming up may take the front back once
        for (DWORD start = GetTickCount(); SetForegroundWindow(g_elsewhere), GetForegroundWindow() != g_elsewhere; Sleep(20))
            if (GetTickCount() - start > kWait)
                return "the tests' own window does not come to the front";
        return "";
    };
}

// The dialogs a setup made until it ends (kWait at most), but those of the captions allowed ("|" between).
std::string Shown(const PROCESS_INFORMATION &p, const std::string &allowed = "")
{
    std::string shown;
    WaitForSingleObject(p.hProcess, kWait);
    std::lock_guard<std::mutex> hold(g_madeLock);
    for (const std::string &caption : g_made[p.dwProcessId])
        if (("|" + allowed + "|").find("|" + caption + "|") == std::string::npos)
            shown += " \"" + caption + "\"";
    return shown;
}

// The setup started again: the second ends at once with want, showing nothing,
// and the first one's window of the kind comes to the front.
Step SecondStart(const Sel &front, const std::string &args = "", int want = 0)
{
    return [=](Session &s) -> std::string {
        PROCESS_INFORMATION second = {};
        DWORD code = 99;
        if (!Launch(s, args, &second))
            return "cannot start " + s.exe + " again";
        std::string err = Check(Shown(second), std::string(), "the second setup's windows");
        TerminateProcess(second.hProcess, 99);   // one that does not end by itself
        GetExitCodeProcess(second.hProcess, &code);
        CloseHandle(second.hProcess);
        err += Check((int)code, want, "the second setup's exit code");
        for (DWORD start = GetTickCount(); err.empty() && GetForegroundWindow() != ui::Find(s.proc.dwProcessId, front); Sleep(20))
            if (GetTickCount() - start > kWait)
                return "\"" + front.caption + "\" is not brought to the front; in front: \"" + ui::Caption(GetForegroundWindow()) + "\"";
        return err;
    };
}

Step Reads(const Sel &sel, const std::string &text)
{
    return [=](Session &s) {
        std::string err;
        HWND w = s.Await(sel, &err);
        return w ? Check(ui::Reads(w), text, "what " + sel.caption + " shows") : err;
    };
}

// The clip plays (the next question moved aside): four pictures within kWait.
Step Animates()
{
    return [](Session &s) {
        std::string err;
        HWND question = s.Question(&err), search = question ? s.Await(kSearch, &err) : NULL;
        if (!search)
            return err;
        SetWindowPos(question, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        std::set<unsigned> frames;
        for (DWORD start = GetTickCount(); frames.size() < 4 && GetTickCount() - start < kWait; Sleep(50))
            frames.insert(ui::Pixels(GetDlgItem(search, IDC_ANIMATE)));
        return frames.size() >= 4 ? "" : "the clip shows " + std::to_string(frames.size()) + " pictures";
    };
}

// A stray "no folder accepted" notification posted to the search dialog.
Step Timer()
{
    return [](Session &s) {
        std::string err;
        HWND search = s.Await(kSearch, &err);
        return search && PostMessageA(search, WM_TIMER, 0, 0) ? "" : err;
    };
}

Step Exit(int want = 0)
{
    return [=](Session &s) {
        DWORD code = 99;
        if (WaitForSingleObject(s.proc.hProcess, kWait) != WAIT_OBJECT_0)
            return "the setup does not end\n" + ui::Describe(s.proc.dwProcessId);
        return GetExitCodeProcess(s.proc.hProcess, &code), Check((int)code, want, "the exit code");
    };
}
// The setup ends with want, showing no dialog but of the captions allowed ("|" between).
Step Ends(int want, const std::string &allowed = "")
{
    return [=](Session &s) { return Check(Shown(s.proc, allowed), std::string(), "the windows shown") + Exit(want)(s); };
}
// The log's lines after its first skip (version, Windows, command line).
Step Logged(const std::vector<std::string> &lines, const std::string &file = "setup.log", size_t skip = 3)
{
    return [=](Session &s) {
        std::string log = Read(s.dir + file), want;
        for (size_t i = 0; i < skip && log.find("\r\n") != std::string::npos; i++)
            log.erase(0, log.find("\r\n") + 2);
        for (const std::string &line : lines)
            want += line + "\r\n";
        return Check(log, want, "the log " + file);
    };
}

Step Same(const std::string &path, const std::string &entry)
{
    return [=](Session &) { return Check(Read(path) == Payload(entry), true, path + " holds " + entry); };
}
Step Has(const std::string &path, const std::string &text) { return [=](Session &) { return Check(Read(path), text, path); }; }
Step Only(const std::string &dir, const std::string &names)
{
    return [=](Session &) { return Check(ui::Listing(dir), names, "the files in " + dir); };
}
// Both entries installed in dir's tvdata\ and nothing else there.
Step Installed(const std::string &dir)
{
    return [=](Session &s) {
        return Same(dir + "tvdata\\vxmain.vdf", "vxmain.vdf")(s) + Same(dir + "tvdata\\vxsky_readme.txt", "vxsky_readme.txt")(s) +
               Only(dir + "tvdata\\", "vxmain.vdf|vxsky_readme.txt")(s);
    };
}
// The show state and read-me command Notepad was started with ("": not started).
Step Notepad(const std::string &folder)
{
    return [=](Session &s) {
        std::string log = s.dir + "notepad.log", want = "1 notepad \"" + folder + "tvdata/vxsky_readme.txt\"\r\n";
        for (DWORD start = GetTickCount(); !folder.empty() && Read(log) == "<none>" && GetTickCount() - start < kWait;)
            Sleep(20);
        return Check(Read(log), folder.empty() ? "<none>" : want, "the read-me command");
    };
}
bool Above(HWND a, HWND b)
{
    for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == a || w == b)
            return w == a;
    return false;
}
// While "Done!" is up, the read-me is open in Notepad behind it, and stays behind.
Step ReadMeBehindDone()
{
    return [](Session &s) -> std::string {
        std::string err;
        HWND box = s.Await({"Done!", ui::kBoxText}, &err);
        if (!box)
            return "waiting for \"Done!\": " + err;
        HWND editor = FindWindowA("Notepad", NULL);
        if (!editor || !IsWindowVisible(editor))
            return "\"Done!\" is up and Notepad is not";
        err = Check(ui::Caption(editor) + "\n" + ui::Text(editor, 0), "vxsky_readme.txt - Notepad\n" +
                    Payload("vxsky_readme.txt"), "what Notepad shows");
        for (int look = 0; look < 2 && err.empty(); look++, Sleep(500))
            if (!Above(box, editor))
                err = "Notepad comes up over \"Done!\"";
        return err;
    };
}

// What a run loads by name, but the known DLLs and Wine's own early loads (read off
// WINEDEBUG=+loaddll): planted beside the setup with a notepad.exe, taken where
// found first, as Windows takes a library that is not a known DLL.
const std::vector<std::string> kPlanted = {"comctl32.dll", "lz32.dll", "ole32.dll", "shell32.dll", "uxtheme.dll",
                                           "msvfw32.dll", "msacm32.dll", "winmm.dll"};
Step Plant()
{
    return [](Session &s) -> std::string {
        for (const std::string &lib : kPlanted)
            if (!CopyFileA("X:\\bin\\tests\\planted_library.dll", (s.dir + lib).c_str(), FALSE))
                return "cannot plant " + lib;
        if (!CopyFileA("X:\\bin\\tests\\planted_program.exe", (s.dir + "notepad.exe").c_str(), FALSE))
            return "cannot plant notepad.exe";
        return ui::LoadOrder(s.name + ".exe", kPlanted, "native,builtin") ? "" : "cannot set the load order";
    };
}
// The planted files that ran, by the marks they leave.
Step NothingRan() { return [](Session &s) { return Check(ui::Listing(s.dir, "*.ran"), std::string(), "the planted files that ran"); }; }
Step Moves(int n) { return [=](Session &) { return Check(PendingMoves(), n, "delayed moves"); }; }
// The rename section of WININIT.INI holds one entry per target, in short names.
Step Ini(const std::vector<std::string> &targets)
{
    return [=](Session &) {
        char buf[4096] = "";
        std::string got, want;
        DWORD n = GetPrivateProfileSectionA("rename", buf, sizeof(buf), kIni.c_str());
        for (const char *p = buf; p < buf + n && *p; p += strlen(p) + 1)
            got += std::string(p) + "\n";
        for (const std::string &t : targets)
            want += ShortName(t) + "=" + ShortName(t.substr(0, t.size() - 3) + "000") + "\n";
        return Check(got, want, "the rename section of WININIT.INI");
    };
}
// The restart: programs end, then start-up does the delayed moves and WININIT.INI.
Step Restart()
{
    return [](Session &s) {
        PROCESS_INFORMATION pi;
        s.Release();
        if (!ui::Run("wineboot.exe -r", NULL, &pi))
            return "cannot run wineboot";
        WaitForSingleObject(pi.hProcess, kWait);
        return CloseHandle(pi.hProcess), "";
    };
}
// Restart requests, counted once wineboot (which asks every window) has ended.
Step Reboots(int n)
{
    return [=](Session &) {
        for (DWORD start = GetTickCount(); ui::EndAll("wineboot.exe", false) && GetTickCount() - start < kWait;)
            Sleep(20);
        return Check((int)g_restartRequests, n, "restart requests");
    };
}

// Where the link map puts a symbol (0: nowhere); binary.cpu checks that the map is the exe's.
ULONGLONG Place(const std::string &map, const std::string &symbol)
{
    std::smatch m;
    return std::regex_search(map, m, std::regex("\\n +0x([0-9a-f]+) +" + symbol)) ? std::stoull(m[1], nullptr, 16) : 0;
}

// The checksum path start-up chose, read in the running setup at its welcome dialog.
Step ChecksumPath(bool vector)
{
    return [=](Session &s) -> std::string {
        static const std::string map = Read("X:\\bin\\VexmoorSkyriftSetup.map");   // once for every version
        std::string err;
        if (!s.Await(kWelcome, &err))
            return err;
        ULONGLONG base = Place(map, "__image_base__ "), baseline = Place(map, "SumFlipped\\("),
                  sse2 = Place(map, "SumFlippedSse2\\("), choice = Place(map, "g_checksumPath\\r?\\n");
        if (!base || !baseline || !sse2 || !choice)
            return "the link map does not say where the checksum's paths are";
        char header[2] = "";
        void *chosen = nullptr;
        if (!ReadProcessMemory(s.proc.hProcess, (void *)base, header, 2, NULL) || memcmp(header, "MZ", 2))
            return "the setup is not at its preferred base";
        if (!ReadProcessMemory(s.proc.hProcess, (void *)choice, &chosen, sizeof(chosen), NULL))
            return "cannot read the setup's choice of path";
        auto name = [&](ULONGLONG at) { return at == sse2 ? "the vector path" : at == baseline ? "the baseline" : "no path"; };
        return Check(std::string(name((ULONGLONG)chosen)), std::string(name(vector ? sse2 : baseline)), "the checksum's path");
    };
}

// The messages of a run, as the player meets them.
std::string FoundText(const std::string &dir)
{
    return "Setup found an application named 'Torvane' in:\n\n" + dir + "\n\nIs this the Torvane folder?";
}
Step Found(const std::string &dir, int press) { return Box(kSetup, FoundText(dir), MB_YESNO | MB_ICONQUESTION, kSetup, press); }
const std::string kNotFoundText = "The Torvane folder could not be found.  You need to find it yourself.  If Torvane is not "
                                  "installed, you need to install it and then restart Setup";
Step NotFound() { return Box("Browse", kNotFoundText, MB_ICONINFORMATION, kSetup, IDOK); }
Step Overwrite(const std::string &rel, int press)
{
    return Box("Overwrite?", "The file " + rel + " already exists.", -1, kCopying, press, IDC_OVERWRITE_TEXT);
}
const std::string kTempFileText = "Could not make a temp file.  Try again?";
Step TempFile(int press) { return Box("Error", kTempFileText, MB_YESNO | MB_ICONQUESTION, kCopying, press); }
Step Error(const std::string &text) { return Box("Error", text, MB_ICONHAND, kCopying, IDOK); }
Step DiskError(const std::string &target)
{
    return Error("The file, " + target + ", could not be copied due to a disk error.  Perhaps you are out of disk space?");
}
Step TooLong(const std::string &rel)
{
    return Error("The file, " + rel + ", could not be copied because the path of the Torvane folder is too long.");
}
const std::string kDeclinedText = "You chose not to overwrite some file(s).  The installation may not have completed successfully.";
const Step kDeclined = Error(kDeclinedText);
const std::string kFailedText = "Some file(s) could not be copied do to the install program being corrupt or a disk "
                                "error.  The installation may not have completed successfully.";
const Step kFailed = Error(kFailedText);
const std::string kInUse = "Some file(s) you tried to overwrite were in use during the installation.  In order for the "
                           "installation to finish, you must restart Windows.\n\n";
const Step kRestartNt = Box("Almost done...", kInUse + "Please restart now.", MB_ICONINFORMATION, kCopying, IDOK);
Step Restart9x(int press)
{
    return Box("Almost done...", kInUse + "Do you want to restart now?", MB_YESNO | MB_ICONQUESTION, kCopying, press);
}
const std::string kDoneText = "Vexmoor Skyrift has been installed successfully!";
Step Done(int press) { return Box("Done!", kDoneText, MB_ICONEXCLAMATION, kCopying, press); }
const Step kDone = Done(IDOK);
const std::string kCorruptText = "This setup program is corrupt, probably by a bad or aborted download.  Please download it "
                                 "again.";
const Step kCorrupt = Box("Corrupt Setup", kCorruptText, MB_ICONHAND, "", IDOK);
const std::string kOldText = "You need at least Windows 95 or Windows NT 4.0 to run Torvane as well as this installer.";
const Step kOld = Box("Sorry!", kOldText, MB_ICONHAND, "", IDOK);
const Step kInstall = Click(kWelcome, IDOK), kQuit = Click(kWelcome, IDCANCEL);

const std::string kGame = "D:\\Games\\Torvane\\", kData = kGame + "tvdata\\";
const std::string kMain = kData + "vxmain.vdf", kReadme = kData + "vxsky_readme.txt";
const std::string kWelcomeText = "Install|Cancel|Welcome to Vexmoor Skyrift|This will install the Vexmoor Skyrift "
    "Addon to your computer.|Note that you must have Torvane installed in order to install this addon.||After you "
    "press Install, the installer will search your hard drives for your Torvane folder.|<icon>";

std::vector<Case> StartupCases()
{
    std::vector<Case> cases = {
        {"WelcomeThenCancel", {Start(), Reads(kWelcome, kWelcomeText), kQuit, Exit(), Notepad("")}},
        {"CloseBoxEndsLikeCancel", {Start(), Click(kWelcome, ui::kCloseBox), Exit()}},
        {"OldWindows", {Win("win31"), Patch(FLIP, "vxmain.vdf", 0, 1), Start(), kOld, Exit()}},
        // the same bytes written back: the check is on the contents, not their place
        {"EntryRewritten", {Patch(RESIZE, "vxsky_readme.txt", 0), Start(), kQuit, Exit()}},
    };
    // a system library Wine is told not to load is named; nothing else shown or written
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    for (std::string lib : {"comctl32.dll", "lz32.dll", "ole32.dll", "shell32.dll"})
        cases.push_back({"Without" + std::string(1, (char)toupper(lib[0])) + lib.substr(1, lib.find('.') - 1),
                         {Game(kGame), Off(lib), Start(), Box("Error", "Setup could not load " + std::string(system) +
                          "\\" + lib + ", a part of Windows that it needs.", MB_ICONHAND, "", IDOK), Exit(), Only(kData, "")}});
    // an old system is refused before a missing library is said
    cases.push_back({"OldWindowsWithoutLz32", {Win("win31"), Off("lz32.dll"), Start(), kOld, Exit()}});
    // the vector path on NT from 5.0 on with SSE2, the baseline elsewhere
    const bool sse2 = IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
    const struct { const char *version; bool vector; } paths[] = {
        {"win95", false}, {"win98", false}, {"winme", false}, {"nt40", false},
        {"win2k", sse2}, {"winxp", sse2}, {"win7", sse2},
    };
    for (auto &p : paths)
        cases.push_back({std::string("ChecksumPathOn_") + p.version, {Win(p.version), Start(), ChecksumPath(p.vector),
                         kQuit, Exit()}});
    // either entry one byte short, dropped, or one byte changed: ends, middle, random places
    std::mt19937 rng(20261207);
    for (const char *entry : {"vxmain.vdf", "vxsky_readme.txt"}) {
        int size = (int)Payload(entry).size();
        cases.push_back({"OneByteShort" + std::to_string(cases.size()), {Patch(RESIZE, entry, -1), Start(), kCorrupt, Exit()}});
        cases.push_back({"Missing" + std::to_string(cases.size()), {Patch(DROP, entry), Start(), kCorrupt, Exit()}});
        for (int at : {0, size / 2, -1, (int)(rng() % size), (int)(rng() % size)})
            cases.push_back({"Flip" + std::to_string(cases.size()),
                             {Patch(FLIP, entry, at, 1 << (rng() % 8) | (at == size / 2 ? 0xFF : 0)), Start(), kCorrupt, Exit()}});
    }
    return cases;
}

const std::vector<Case> kSearchCases = {
    // pre-order: a declined folder is still searched below; drives in letter order
    {"DeclinedFolderIsSearchedBelow", {Game(kGame), Game(kGame + "Backup\\"), Game("F:\\Torvane\\"), Start(), kInstall,
        Found(kGame, IDNO), Found(kGame + "Backup\\", IDNO), Found("F:\\Torvane\\", IDYES), kDone, Exit(),
        Installed("F:\\Torvane\\"), Only(kData, ""), Only(kGame + "Backup\\tvdata\\", "")}},
    {"DriveRoot", {Game("C:\\"), Start(), kInstall, Found("C:\\", IDYES), kDone, Exit(), Installed("C:\\"), Notepad("C:\\")}},
    // floppy, CD-ROM and network drives are passed over by their type
    {"NothingFoundOpensThePicker", {Game("A:\\"), Game("E:\\Torvane\\"), Game("G:\\e2e\\Torvane\\"), Mkdir(kData),
        Start(), kInstall, Animates(), NotFound(), Pick(kGame), kDone, Exit(), Installed(kGame), Notepad(kGame)}},
    {"PickedDriveRoot", {Mkdir("F:\\tvdata\\"), Start(), kInstall, NotFound(), Pick("F:\\"), kDone, Exit(),
        Installed("F:\\"), Notepad("F:\\")}},
    {"CancelledPickerThenSearchAgain", {Start(), kInstall, NotFound(), Pick(""), Game(kGame), kInstall,
        Found(kGame, IDYES), kDone, Exit()}},
    {"CancelledSearchThenSearchAgain", {Game(kGame), Tree("F:\\wide\\", 40), Start(), kInstall, Found(kGame, IDNO),
        Click(kSearch, IDCANCEL), kInstall, Found(kGame, IDNO), Click(kSearch, IDCANCEL), kQuit, Exit(), Only(kData, "")}},
    {"StrayNotificationIsIgnored", {Tree("D:\\wide\\", 30), Game("F:\\Torvane\\"), Start(), kInstall, Timer(),
        Found("F:\\Torvane\\", IDYES), kDone, Exit()}},
};

const std::string kLongest = "D:\\" + std::string(100, 'x') + "\\", kTooLong = "D:\\" + std::string(101, 'x') + "\\";

const std::vector<Case> kInstallCases = {
    {"CleanRunChangesOnlyTheDataFolder", {Game(kGame), Start(), kInstall, Found(kGame, IDYES),
        Reads({kCopying, -1}, "Setup is now copying the Vexmoor Skyrift files to your computer.|<icon>"),
        ReadMeBehindDone(), kDone, Exit(), Installed(kGame), Notepad(kGame), Only("D:\\", "Games"), Only(kGame, "torvane.exe|tvdata")}},
    {"Windows95", {Win("win95"), Game(kGame), Start(), kInstall, Found(kGame, IDYES), kDone, Exit(), Installed(kGame)}},
    // No, then Yes to All: the second Install asks nothing more
    {"DeclinedThenYesToAllLasts", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), Overwrite("tvdata\\vxsky_readme.txt", IDC_YESTOALL),
        kDeclined, Has(kMain, "old"), Same(kReadme, "vxsky_readme.txt"), Notepad(""), kInstall, Found(kGame, IDYES),
        kDone, Exit(), Installed(kGame)}},
    {"EnterIsYesAndTheCloseBoxIsNo", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", ui::kEnter), Overwrite("tvdata\\vxsky_readme.txt", ui::kCloseBox),
        kDeclined, Same(kMain, "vxmain.vdf"), Has(kReadme, "old"), kQuit, Exit()}},
    // after a failed run, a search cancelled at once goes back to the welcome dialog
    {"FailedRunThenCancelledSearch", {Game(kGame), Put(kMain, "old"), Tree("F:\\wide\\", 40), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), kDeclined, kInstall, Found(kGame, IDNO),
        Click(kSearch, IDCANCEL), kQuit, Exit()}},
    // what a run cut off by a crash left: long temporary files, half-written targets
    {"LeftoverTemporaryFiles", {Game(kGame), Put(kData + "vxmain.tmp", std::string(Payload("vxmain.vdf").size() + 99999, 't')),
        Put(kData + "vxsky_readme.tmp", std::string(9999, 't')), Start(), kInstall, Found(kGame, IDYES), kDone, Exit(),
        Installed(kGame)}},
    {"LeftoverTemporaryFileOn98", {Win("win98"), Game(kGame), Put(kData + "vxmain.tmp", "t"), Start(), kInstall,
        Found(kGame, IDYES), kDone, Exit(), Installed(kGame)}},
    {"HalfWrittenTargets", {Game(kGame), Put(kMain, Payload("vxmain.vdf").substr(0, Payload("vxmain.vdf").size() / 2)),
        Put(kReadme, Payload("vxsky_readme.txt").substr(0, 1000)), Start(), kInstall, Found(kGame, IDYES),
        Overwrite("tvdata\\vxmain.vdf", IDC_YESTOALL), kDone, Exit(), Installed(kGame)}},
    {"NoDataFolder", {Put(kGame + "torvane.exe"), Start(), kInstall, Found(kGame, IDYES), TempFile(IDYES), TempFile(IDNO),
        TempFile(IDNO), kFailed, kQuit, Exit(), Only(kGame, "torvane.exe")}},
    // the longest folder whose targets the expand-copy takes, and one more
    {"LongestFolder", {Game(kLongest), Start(), kInstall, Found(kLongest, IDYES), kDone, Exit(), Installed(kLongest)}},
    {"FolderOneTooLong", {Game(kTooLong), Start(), kInstall, Found(kTooLong, IDYES), TooLong("tvdata\\vxsky_readme.txt"),
        kFailed, kQuit, Exit(), Same(kTooLong + "tvdata\\vxmain.vdf", "vxmain.vdf")}},
};

const std::vector<Case> kInUseCases = {
    {"InUseOnNt", {Game(kGame), Put(kMain, "running"), Hold(kMain, FILE_SHARE_READ), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), kRestartNt, Exit(), Reboots(0), Notepad(""),
        Has(kMain, "running"), Same(kData + "vxmain.000", "vxmain.vdf"), Moves(2), Restart(), Installed(kGame)}},
    // a holder that shares writing: replaced in place, none of the longer old content left
    {"HeldSharingWrite", {Game(kGame), Put(kMain, Payload("vxmain.vdf") + std::string(70000, 'x')),
        Hold(kMain, FILE_SHARE_READ | FILE_SHARE_WRITE), Start(),
        kInstall, Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), kDone, Exit(), Moves(0), Installed(kGame)}},
    // a file that even the existence test cannot open is not asked about
    {"LockedOnNt", {Game(kGame), Put(kReadme, "locked"), Hold(kReadme, 0), Start(), kInstall, Found(kGame, IDYES),
        kRestartNt, Exit(), Same(kData + "vxsky_readme.000", "vxsky_readme.txt"), Restart(), Installed(kGame)}},
    {"InUseOn98RestartLater", {Win("win98"), Game(kGame), Put(kMain, "a"), Put(kReadme, "b"), Hold(kMain, 0),
        Hold(kReadme, 0), Start(), kInstall, Found(kGame, IDYES), Restart9x(IDNO), Exit(), Reboots(0), Moves(0),
        Ini({kMain, kReadme}), Restart(), Installed(kGame)}},
    {"InUseOn98RestartNow", {Win("win98"), Game(kGame), Put(kReadme, "b"), Hold(kReadme, 0), Start(), kInstall,
        Found(kGame, IDYES), Restart9x(IDYES), Exit(), Reboots(1), Ini({kReadme})}},
    {"DeferredAndFailed", {Game(kGame), Put(kMain, "a"), Hold(kMain, 0), Mkdir(kData + "vxsky_readme.tmp"), Start(),
        kInstall, Found(kGame, IDYES), TempFile(IDNO), kFailed, kRestartNt, Exit(), Notepad("")}},
};

// The keyboard alone: each dialog comes up (and the welcome dialog back) with the
// focus on its default button.
const int kEnter = ui::Key(VK_RETURN), kEsc = ui::Key(VK_ESCAPE), kTab = ui::Key(VK_TAB), kSpace = ui::Key(VK_SPACE);
const Sel kOverwriteQuestion{"Overwrite?", IDC_YESTOALL};
// a wide tree keeps the search busy for a key (on F: when the picker is to choose on
// D:: Wine's picker is slow to take a folder on a drive a search just stopped in)
const Step kWideD = Tree("D:\\wide\\", 50), kWideF = Tree("F:\\wide\\", 50);

const std::vector<Case> kKeyboardCases = {
    {"EnterThroughACleanRun", {Game(kGame), Start(), Focused(kWelcome, IDOK), Click(kWelcome, kEnter),
        Found(kGame, kEnter), Done(kEnter), Exit(), Installed(kGame), Notepad(kGame)}},
    {"TabShiftTabAndSpaceOnCancel", {Start(), Focused(kWelcome, IDOK), Type(kWelcome, kTab), Focused(kWelcome, IDCANCEL),
        Type(kWelcome, kTab), Focused(kWelcome, IDOK), Type(kWelcome, ui::Key(ui::kShift | VK_TAB)),
        Focused(kWelcome, IDCANCEL), Click(kWelcome, kSpace), Exit(), Notepad("")}},
    {"EscOutOfTheSearch", {kWideD, Game("F:\\Torvane\\"), Start(), Click(kWelcome, kEnter), Focused(kSearch, IDC_BROWSE),
        Click(kSearch, kEsc), Focused(kWelcome, IDOK), Click(kWelcome, kEnter), Found("F:\\Torvane\\", kEnter),
        Done(kEnter), Exit(), Installed("F:\\Torvane\\")}},
    {"AltBOpensThePicker", {kWideF, Mkdir(kData), Start(), Click(kWelcome, kEnter), Focused(kSearch, IDC_BROWSE),
        Type(kSearch, ui::Key(ui::kAlt | 'B')), Pick(kGame), Done(kEnter), Exit(), Installed(kGame)}},
    // No, Yes, then Yes to All in a second run, which does not ask about the read-me
    {"AltKeysInTheOverwriteQuestion", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(),
        Click(kWelcome, kEnter), Found(kGame, kEnter), Focused(kOverwriteQuestion, IDYES, true),
        Overwrite("tvdata\\vxmain.vdf", ui::Key(ui::kAlt | 'N')), Overwrite("tvdata\\vxsky_readme.txt", ui::Key(ui::kAlt | 'Y')),
        Box("Error", kDeclinedText, MB_ICONHAND, kCopying, kEnter), Has(kMain, "old"), Same(kReadme, "vxsky_readme.txt"),
        Focused(kWelcome, IDOK), Click(kWelcome, kEnter), Found(kGame, kEnter),
        Overwrite("tvdata\\vxmain.vdf", ui::Key(ui::kAlt | 'A')), Done(kEnter), Exit(), Installed(kGame)}},
    {"EnterIsYesAndEscIsNoInTheOverwriteQuestion", {Game(kGame), Put(kMain, "old"), Put(kReadme, "old"), Start(),
        Click(kWelcome, kEnter), Found(kGame, kEnter), Focused(kOverwriteQuestion, IDYES, true),
        Overwrite("tvdata\\vxmain.vdf", kEnter), Focused(kOverwriteQuestion, IDYES, true),
        Overwrite("tvdata\\vxsky_readme.txt", kEsc), Box("Error", kDeclinedText, MB_ICONHAND, kCopying, kEnter),
        Same(kMain, "vxmain.vdf"), Has(kReadme, "old"), Focused(kWelcome, IDOK), Click(kWelcome, kEsc), Exit()}},
    {"EscOnTheWelcomeEnds", {Start(), Focused(kWelcome, IDOK), Click(kWelcome, kEsc), Exit(), Notepad("")}},
    // the animation is a tab stop of the search dialog's template
    {"TabAndSpaceInTheSearch", {Tree("D:\\wide\\", 70), Start(), Click(kWelcome, kEnter), Focused(kSearch, IDC_BROWSE),
        Type(kSearch, kTab), Focused(kSearch, IDCANCEL), Type(kSearch, kTab), Focused(kSearch, IDC_ANIMATE),
        Type(kSearch, kTab), Focused(kSearch, IDC_BROWSE), Type(kSearch, ui::Key(ui::kShift | VK_TAB)),
        Focused(kSearch, IDC_ANIMATE), Type(kSearch, ui::Key(ui::kShift | VK_TAB)), Focused(kSearch, IDCANCEL),
        Click(kSearch, kSpace), Focused(kWelcome, IDOK), kQuit, Exit()}},
};

// One setup at a time: a second start brings the first one's window to the front
// and ends; the first goes on as if nothing had happened.
const Sel kFoundQuestion{kSetup, ui::kBoxText};
const std::vector<Case> kOneAtATimeCases = {
    {"SecondStartAtTheWelcome", {Game(kGame), Start(), Up(kWelcome), Elsewhere(), SecondStart(kWelcome), kInstall,
        Found(kGame, IDYES), kDone, Exit(), Installed(kGame), Notepad(kGame)}},
    {"SecondStartAtTheFoundQuestion", {Game(kGame), Start(), kInstall, Up(kFoundQuestion), Elsewhere(),
        SecondStart(kFoundQuestion), Found(kGame, IDYES), kDone, Exit(), Installed(kGame), Notepad(kGame)}},
    {"SecondStartAtTheOverwriteQuestion", {Game(kGame), Put(kMain, "old"), Start(), kInstall, Found(kGame, IDYES),
        Up(kOverwriteQuestion), Elsewhere(), SecondStart(kOverwriteQuestion), Overwrite("tvdata\\vxmain.vdf", IDYES),
        kDone, Exit(), Installed(kGame), Notepad(kGame)}},
    // once the first has ended, the next start is a setup of its own
    {"StartAfterTheFirstEnded", {Start(), kQuit, Exit(), Start(), Up(kWelcome), kQuit, Exit()}},
};

// Code page 932 (ctest runs these as e2e.Dbcs in ja_JP.UTF-8): folders ending in a
// character whose second byte is the backslash's (95 5C and 83 5C).
Step Japanese()
{
    return [](Session &) {
        return GetACP() == 932 ? "" : "the code page is " + std::to_string(GetACP()) + ", not 932: these cases run in "
               "ja_JP.UTF-8 (ctest runs them so, as e2e.Dbcs; tools/install-deps.sh makes the locale)";
    };
}
const std::string kTable = Ansi(L"D:\\\u8868\\"), kSoFolder = Ansi(L"D:\\Games\\\u30BD\\");

const std::vector<Case> kDbcsCases = {
    {"FoundInAFolderEndingIn955C", {Japanese(), Game(kTable), Start(), kInstall, Found(kTable, IDYES), kDone, Exit(),
        Installed(kTable), Notepad(kTable), Only("D:\\", Ansi(L"\u8868"))}},
    {"PickedFolderEndingIn835C", {Japanese(), Mkdir(kSoFolder + "tvdata"), Start(), kInstall, NotFound(), Pick(kSoFolder),
        kDone, Exit(), Installed(kSoFolder), Notepad(kSoFolder), Only("D:\\Games\\", Ansi(L"\u30BD"))}},
    {"SilentFolderEndingIn835C", {Japanese(), Game(kSoFolder), Start("/S /D=" + kSoFolder.substr(0, kSoFolder.size() - 1)),
        Ends(0), Installed(kSoFolder)}},
};

// Whether a read-only file opens for writing: Windows refuses, Wine run as root does not.
bool ReadOnlyWritable()
{
    std::string probe = "G:\\read-only-probe";
    ui::Put(probe, "x");
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    CloseHandle(h);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return h != INVALID_HANDLE_VALUE;
}
const bool kReadOnlyWritable = ReadOnlyWritable();

// The small drive H: filled to leave room for times vxmain.vdf plus extra clusters.
const std::string kH = "H:\\tvdata\\", kOldMain(Payload("vxmain.vdf").size(), 'o'),
                  kCluster(4096, 'c');   // a cluster of the bed's tmpfs
Step RoomForMain(int times, int extra)
{
    return [=](Session &) -> std::string {
        long long cluster, room = ui::Room("H:\\", &cluster), size = (long long)Payload("vxmain.vdf").size();
        if (room < 0 || cluster != (long long)kCluster.size())
            return "H: does not have clusters of " + std::to_string(kCluster.size()) + " bytes";
        return ui::Fill("H:\\filler", ((size + cluster - 1) / cluster * times + extra) * cluster) ? "" : "cannot fill H:";
    };
}

// A link someone put in tvdata at a name the setup writes, to a file outside the game folder.
const std::string kOutside = "F:\\system\\victim.dll", kVictim(1760, 'v');
Step Link(const std::string &at, const std::string &to)
{
    return [=](Session &) {
        return ui::Put(kLinked, "") && Shell("ln -s '" + UnixPath(to) + "' '" + UnixPath(at) + "'") ? "" : "cannot link " + at;
    };
}
Case Linked(const std::string &name, const std::string &at, std::vector<Step> steps)
{
    steps.insert(steps.begin(), {Game(kGame), Put(kOutside, kVictim), Link(at, kOutside)});
    return steps.push_back(Has(kOutside, kVictim)), Case{name, steps};
}

const std::vector<Case> kFailureCases = {
    // the outside file keeps every byte; the install ends as it would without the link
    Linked("LinkAtTheTemporaryFile", kData + "vxmain.tmp", {Start(), kInstall, Found(kGame, IDYES), kDone, Exit(),
        Installed(kGame)}),
    Linked("LinkAtTheTarget", kMain, {Start(), kInstall, Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), kDone,
        Exit(), Installed(kGame)}),
    Linked("LinkAtTheSideFile", kData + "vxmain.000", {Put(kMain, "running"), Hold(kMain, FILE_SHARE_READ), Start(),
        kInstall, Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), kRestartNt, Exit(), Moves(2), Restart(),
        Installed(kGame)}),
    // a link that cannot be replaced (Wine keeps one whose file is open) is neither written nor left for the restart
    Linked("LinkAtTheTargetToAFileInUse", kMain, {Hold(kOutside, FILE_SHARE_READ | FILE_SHARE_WRITE), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), Box("Create Failed", kMain, MB_OK, kCopying, IDOK),
        kFailed, kQuit, Exit(), Moves(0)}),
    // what the player set up stays: the data folder a link to another drive
    {"DataFolderIsALink", {Put(kGame + "torvane.exe"), Mkdir("F:\\Data"), Link(kGame + "tvdata", "F:\\Data"), Start(), kInstall,
        Found(kGame, IDYES), kDone, Exit(), Installed(kGame), Only("F:\\Data\\", "vxmain.vdf|vxsky_readme.txt")}},
    // a read-only target: replaced in place where a writer gets through, else at the restart
    {"ReadOnlyTarget", {Game(kGame), Put(kReadme, "old"), ReadOnly(kReadme), Start(), kInstall, Found(kGame, IDYES),
        Overwrite("tvdata\\vxsky_readme.txt", IDYES), kReadOnlyWritable ? kDone : kRestartNt, Exit(),
        kReadOnlyWritable ? Installed(kGame) : Same(kData + "vxsky_readme.000", "vxsky_readme.txt")}},
    {"DeclinedThenFailed", {Game(kGame), Put(kMain, "old"), Mkdir(kData + "vxsky_readme.tmp"), Start(), kInstall,
        Found(kGame, IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO), TempFile(IDNO), kDeclined, kFailed, kQuit, Exit()}},
    {"TargetIsAFolder", {Game(kGame), Mkdir(kData + "vxmain.vdf"), Start(), kInstall, Found(kGame, IDYES), kRestartNt,
        Exit(), Same(kData + "vxmain.000", "vxmain.vdf")}},
    {"SideNameTaken", {Game(kGame), Put(kMain, "a"), Hold(kMain, 0), Mkdir(kData + "vxmain.000"), Start(), kInstall,
        Found(kGame, IDYES), Box("Create Failed", kData + "vxmain.000", MB_OK, kCopying, IDOK), kFailed, kQuit,
        Exit(), Moves(0), Only(kData, "vxmain.000|vxmain.vdf|vxsky_readme.txt")}},
    // H: full but for about vxmain.vdf: the old file stays whole unless the new one
    // fits whole (no cut temporary file, no copy that cannot fit, reaches it)
    {"FullDiskTempDoesNotFit", {Needs("H:\\"), Game("H:\\"), Put(kH + "vxmain.vdf", kOldMain), RoomForMain(1, -9), Start(),
        kInstall, Found("H:\\", IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), DiskError(kH + "vxmain.vdf"), kFailed,
        kQuit, Exit(), Has(kH + "vxmain.vdf", kOldMain), Only(kH, "vxmain.vdf|vxsky_readme.txt")}},
    // one cluster short: the old file frees one, the rest leaves two too few
    {"FullDiskCopyDoesNotFit", {Needs("H:\\"), Game("H:\\"), Put(kH + "vxmain.vdf", kCluster), RoomForMain(2, -2), Start(),
        kInstall, Found("H:\\", IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), DiskError(kH + "vxmain.vdf"), kFailed,
        kQuit, Exit(), Has(kH + "vxmain.vdf", kCluster), Only(kH, "vxmain.vdf|vxsky_readme.txt")}},
    // no room for a second copy beside the old file, but just enough once it is emptied
    {"FullDiskFitsOnceTheOldIsEmptied", {Needs("H:\\"), Game("H:\\"), Put(kH + "vxmain.vdf", kOldMain), RoomForMain(1, 0),
        Start(), kInstall, Found("H:\\", IDYES), Overwrite("tvdata\\vxmain.vdf", IDYES), kDone, Exit(),
        Installed("H:\\")}},
    // a file in use frees nothing: no copy beside it, nothing left for the restart
    {"FullDiskInUse", {Needs("H:\\"), Game("H:\\"), Put(kH + "vxmain.vdf", kOldMain),
        Hold(kH + "vxmain.vdf", FILE_SHARE_READ), RoomForMain(1, 9), Start(), kInstall, Found("H:\\", IDYES),
        Overwrite("tvdata\\vxmain.vdf", IDYES), DiskError(kH + "vxmain.vdf"), kFailed, kQuit, Exit(), Moves(0),
        Has(kH + "vxmain.vdf", kOldMain), Only(kH, "vxmain.vdf|vxsky_readme.txt")}},
};

// The system's names planted beside the setup: nothing planted runs on any way through.

const std::vector<Case> kPlantedCases = {
    // the start-up of a Windows without SetDefaultDllDirectories
    {"WithoutAHeldSearch", {Plant(), Exe("X:\\bin\\tests\\fallback.exe"), Start(), Exit(), NothingRan()}},
    {"CleanRun", {Game(kGame), Plant(), Start(), kInstall, Animates(), Found(kGame, IDYES), ReadMeBehindDone(), kDone,
        Exit(), Installed(kGame), Notepad(kGame), NothingRan()}},
    {"FolderPicked", {Mkdir(kData), Plant(), Start(), kInstall, NotFound(), Pick(kGame), kDone, Exit(),
        Installed(kGame), Notepad(kGame), NothingRan()}},
    {"OldWindows", {Win("win31"), Plant(), Start(), kOld, Exit(), NothingRan()}},
    {"Corrupt", {Patch(FLIP, "vxsky_readme.txt", 0, 1), Plant(), Start(), kCorrupt, Exit(), NothingRan()}},
};

// Nobody at the screen: exit code, windows shown, files and log of each switch.
std::string Logs(const char *how, const std::string &caption, std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return how + caption + ": " + text;
}
std::string Quiet(const std::string &caption, const std::string &text) { return Logs("Message (not shown): ", caption, text); }
Step NoLog() { return [](Session &s) { return Check(Read(s.dir + "setup.log"), std::string("<none>"), "the log"); }; }
const std::string kHelpText = "Switches:\n/S or /VERYSILENT - no window at all\n/SILENT - only the search and copying "
    "dialogs\n/D=folder - the Torvane folder (last, no quotes)\n/DIR=folder or /DIR=\"folder\" - the Torvane folder\n"
    "/LOG=file or /LOG=\"file\" - a log of the run\n/SUPPRESSMSGBOXES, /NORESTART - accepted\n\nExit codes of a silent "
    "run:\n0 installed, 3010 installed (a restart finishes it), 1602 cancelled, 1603 failed, 1618 another setup runs, 87 "
    "an unknown switch, 1150 Windows too old";
const std::string kSpaced = "F:\\My Games\\Torvane\\", kF = "F:\\Torvane\\";
const std::vector<std::string> kBothInstalled = {"vxmain.vdf: installed", "vxsky_readme.txt: installed",
                                                 Quiet("Done!", kDoneText), "Exit code: 0"};
std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string> &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

std::vector<Case> SilentCases()
{
    std::vector<Case> cases = {
        // the first folder found is taken, every file overwritten, no read-me
        {"VerySilentTakesTheFirstFound", {Game(kGame), Game(kF), Put(kMain, "old"), Start("/VERYSILENT /LOG=setup.log"),
            Ends(0), Installed(kGame), Only(kF + "tvdata\\", ""), Notepad(""), Logged(Plus({"Vexmoor Skyrift Setup "
            SKYRIFT_VERSION, "Windows 5.1.2600 Service Pack 3 (platform 2)", "Command line: /VERYSILENT /LOG=setup.log",
            Quiet(kSetup, FoundText(kGame)), "Folder found: " + kGame}, kBothInstalled), "setup.log", 0)}},
        {"FolderGivenNoSearch", {Game(kGame), Game(kF), Put(kReadme, "old"), Start("/LOG=setup.log /S /D=F:\\Torvane"),
            Ends(0), Installed(kF), Only(kData, "vxsky_readme.txt"), Logged(Plus({"Folder given: " + kF}, kBothInstalled))}},
        {"RestOfTheLineIsTheFolder", {Game(kSpaced), Start("/S /D=F:\\My Games\\Torvane"), Ends(0), Installed(kSpaced)}},
        {"QuotedFolderDashesOtherCase", {Game(kSpaced), Start("-verysilent -Dir=\"" + kSpaced + "\" -log=setup.log"), Ends(0),
            Installed(kSpaced), Logged(Plus({"Folder given: " + kSpaced}, kBothInstalled))}},
        // the last of a switch given twice counts
        {"SwitchTwice", {Game(kGame), Start("/S /S /LOG=first.log /DIR=F:\\ /LOG=setup.log /DIR=" + kGame), Ends(0),
            Installed(kGame), Logged(Plus({"Folder given: " + kGame}, kBothInstalled))}},
        {"SilentShowsTheTwoDialogs", {kWideD, Game(kF), Start("/SILENT /LOG=setup.log"), Up(kSearch),
            Ends(0, std::string(kSetup) + "|" + kCopying), Installed(kF), Notepad(""),
            Logged(Plus({Quiet(kSetup, FoundText(kF)), "Folder found: " + kF}, kBothInstalled))}},
        // the log is on the disk as the run goes
        {"SilentCancelled", {Tree("D:\\wide\\", 70), Start("/SILENT /LOG=setup.log"), Up(kSearch), Logged({}),
            Click(kSearch, IDCANCEL), Ends(1602, kSetup), Logged({"No folder: nothing installed", "Exit code: 1602"})}},
        {"SilentNothingFound", {Mkdir(kData), Start("/SILENT /LOG=setup.log"), Ends(1603, kSetup), Only(kData, ""),
            Logged({Quiet("Browse", kNotFoundText), "Folder picker (not shown): no folder", "No folder: nothing installed",
            "Exit code: 1603"})}},
        {"NothingFound", {Start("/S /LOG=setup.log"), Ends(1603), Logged({Quiet("Browse",
            kNotFoundText), "No folder: nothing installed", "Exit code: 1603"})}},
        {"InUseOnNt", {Game(kGame), Put(kMain, "running"), Hold(kMain, FILE_SHARE_READ), Start("/VERYSILENT "
            "/SUPPRESSMSGBOXES /NORESTART /LOG=setup.log /DIR=" + kGame), Ends(3010), Reboots(0), Notepad(""),
            Has(kMain, "running"), Same(kData + "vxmain.000", "vxmain.vdf"), Moves(2), Logged({"Folder given: " + kGame,
            "vxmain.vdf: deferred until the restart", "vxsky_readme.txt: installed", Quiet("Almost done...", kInUse +
            "Please restart now."), "Exit code: 3010"}), Restart(), Installed(kGame)}},
        {"InUseOn98NoRestart", {Win("win98"), Game(kGame), Put(kReadme, "b"), Hold(kReadme, 0), Start("/S /D=" + kGame),
            Ends(3010), Reboots(0), Moves(0), Ini({kReadme}), Restart(), Installed(kGame)}},
        // the temporary-file question is answered No
        {"EntriesFail", {Put(kGame + "torvane.exe"), Start("/S /LOG=setup.log"), Ends(1603), Only(kGame, "torvane.exe"),
            Logged({Quiet(kSetup, FoundText(kGame)), "Folder found: " + kGame, Quiet("Error", kTempFileText),
            "vxmain.vdf: failed", Quiet("Error", kTempFileText), "vxsky_readme.txt: failed", Quiet("Error", kFailedText),
            "Exit code: 1603"})}},
        {"OldWindows", {Win("win31"), Start("/S /LOG=setup.log"), Ends(1150), Logged({Quiet("Sorry!", kOldText),
            "Exit code: 1150"})}},
        {"Corrupt", {Patch(FLIP, "vxmain.vdf", 0, 1), Game(kGame), Start("/VERYSILENT /LOG=setup.log /D=" + kGame), Ends(1603),
            Only(kData, ""), Logged({Quiet("Corrupt Setup", kCorruptText), "Exit code: 1603"})}},
        {"SecondStart", {Start(), Up(kWelcome), SecondStart(kWelcome, "/S /LOG=second.log", 1618),
            Logged({"Exit code: 1618"}, "second.log"), kQuit, Exit()}},
        {"LogCannotBeWritten", {Game(kGame), Start("/S /LOG=Q:\\no\\setup.log /D=" + kGame), Ends(0), Installed(kGame)}},
        {"UnknownSwitch", {Game(kGame), Start("/S /LOG=setup.log /X"), Ends(87), Only(kData, ""), NoLog()}},
        {"SwitchWithMore", {Game(kGame), Start("/SILENT /Sx"), Ends(87), Only(kData, "")}},
        // a player's run with a log, and with a folder given: Install takes it
        {"PlayersRunLogged", {Game(kGame), Start("/LOG=\"a log.txt\""), kInstall, Found(kGame, IDYES), kDone, Exit(),
            Installed(kGame), Notepad(kGame), Logged({Logs("Message: ", kSetup, FoundText(kGame)), "Folder found: " +
            kGame, "vxmain.vdf: installed", "vxsky_readme.txt: installed", Logs("Message: ", "Done!", kDoneText),
            "Exit code: 0"}, "a log.txt")}},
        {"PlayersRunFolderGiven", {Game(kGame), Game(kF), Start("/DIR=F:\\Torvane"), kInstall, kDone, Exit(), Installed(kF),
            Only(kData, "")}},
        {"PlayersRunFolderNotTheGames", {Game(kGame), Start("/DIR=F:\\"), kInstall, Found(kGame, IDYES), kDone, Exit(),
            Installed(kGame)}},
    };
    // the switches listed: asked for, or an unknown switch at the screen
    for (const char *args : {"/?", "-HELP", "/X", "/VERYSILENT /?"})
        cases.push_back({"Help" + std::to_string(cases.size()), {Game(kGame), Start(args), Box(kSetup, kHelpText,
                         MB_ICONINFORMATION, "", IDOK), Exit(), Only(kData, "")}});
    // a refused folder: nothing written, no search (games on D: and beside the setup)
    const std::string kDots = [] { std::string d = "D:\\Games\\Torvane"; while (d.size() < 300) d += "\\."; return d; }();
    for (auto [args, folder] : std::vector<std::pair<std::string, std::string>>{{"/D=", ""}, {"/DIR=F:\\Nowhere",
         "F:\\Nowhere\\"}, {"/D=F:\\Empty", "F:\\Empty\\"}, {"/DIR=\"" + kDots + "\"", ""}, {"/D=" + kDots, ""}}) {
        std::string name = "FolderRefused" + std::to_string(cases.size()), here = "G:\\e2e\\" + name + "\\";
        cases.push_back({name, {Game(kGame), Mkdir("F:\\Empty\\tvdata"), Game(here), Start("/LOG=setup.log /S " + args),
                         Ends(1603), Only(kData, ""), Only("F:\\Empty\\tvdata\\", ""), Only(here + "tvdata\\", ""), Logged({"Folder given, not the game's or "
                         "too long: " + folder, "No folder: nothing installed", "Exit code: 1603"})}});
    }
    return cases;
}

// The prefix as wineboot leaves it: Z: the bed's tree standing for the Unix root, with the home
// in it, which holds the prefix and a Proton prefix whose z: links back to the root; the user's
// folders link to the home, M: and N: map one folder of it, D:\again and D:\loop link to D:\ itself.
Step WineLayout() { return [](Session &) { return Layout("on") ? "" : std::string("cannot lay the prefix out"); }; }
const std::string kHomeGame = "Z:\\home\\player\\Games\\Torvane\\", kPrefixGame = "C:\\Games\\Torvane\\";

const std::vector<Case> kWineCases = {
    // each folder once, by its own path: D: not through its loops, M: not again as N: or in Z:, the home
    // not through the user's folders; the picker goes through a link
    {"EveryFolderOnceByItsOwnPath", {Game(kPrefixGame), Game(kGame), WineLayout(), Game("M:\\Torvane\\"),
        Game(kHomeGame), Start(), kInstall, Found(kPrefixGame, IDNO), Found(kGame, IDNO), Found("M:\\Torvane\\", IDNO),
        Found(kHomeGame, IDNO), NotFound(), Pick("C:\\users\\" + std::string(getenv("USERNAME")) +
        "\\Desktop\\Games\\Torvane\\"), kDone, Exit(), Installed(kHomeGame)}},
    {"NothingFoundEndsAfterOneWalk", {WineLayout(), Start("/S /LOG=setup.log"), Ends(1603), Logged({Quiet("Browse",
        kNotFoundText), "No folder: nothing installed", "Exit code: 1603"})}},
};

struct E2E : ::testing::TestWithParam<Case> {
    static void SetUpTestSuite() { [[maybe_unused]] static HANDLE refusing = CreateThread(NULL, 0, RefuseRestarts, NULL, 0, NULL); }
};

TEST_P(E2E, Steps)
{
    Session session(GetParam().name);
    for (size_t i = 0; i < GetParam().steps.size(); i++) {
        std::string err = GetParam().steps[i](session);
        if (err == "skip")
            GTEST_SKIP() << "the test bed has no such drive";
        ASSERT_TRUE(err.empty()) << "step " << i + 1 << ": " << err;
    }
}

std::string Name(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }
void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(Silent, E2E, ::testing::ValuesIn(SilentCases()), Name);
INSTANTIATE_TEST_SUITE_P(Startup, E2E, ::testing::ValuesIn(StartupCases()), Name);
INSTANTIATE_TEST_SUITE_P(Search, E2E, ::testing::ValuesIn(kSearchCases), Name);
INSTANTIATE_TEST_SUITE_P(Install, E2E, ::testing::ValuesIn(kInstallCases), Name);
INSTANTIATE_TEST_SUITE_P(InUse, E2E, ::testing::ValuesIn(kInUseCases), Name);
INSTANTIATE_TEST_SUITE_P(Failures, E2E, ::testing::ValuesIn(kFailureCases), Name);
INSTANTIATE_TEST_SUITE_P(Planted, E2E, ::testing::ValuesIn(kPlantedCases), Name);
INSTANTIATE_TEST_SUITE_P(Keyboard, E2E, ::testing::ValuesIn(kKeyboardCases), Name);
INSTANTIATE_TEST_SUITE_P(OneAtATime, E2E, ::testing::ValuesIn(kOneAtATimeCases), Name);
INSTANTIATE_TEST_SUITE_P(Dbcs, E2E, ::testing::ValuesIn(kDbcsCases), Name);
INSTANTIATE_TEST_SUITE_P(Wine, E2E, ::testing::ValuesIn(kWineCases), Name);

}  // namespace
