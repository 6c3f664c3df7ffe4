// Whole setups end to end: the real VexmoorSkyriftSetup.exe in a process of
// its own, driven from here as a user would, with game folders on the test
// bed's fixed drives; afterwards the disk is checked.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "test_support.h"
#include "ui_driver.h"

using uidrv::Expect;

namespace {

const char kCaption[] = "Vexmoor Skyrift Setup";
const char kDone[] = "Vexmoor Skyrift has been installed successfully!";
const char kDeclined[] =
    "You chose not to overwrite some file(s).  The installation may not have completed successfully.";
const char kFailed[] =
    "Some file(s) could not be copied do to the install program being corrupt or a disk error.  "
    "The installation may not have completed successfully.";
const char kTempQuestion[] = "Could not make a temp file.  Try again?";
const char kNotFound[] =
    "The Torvane folder could not be found.  You need to find it yourself.  If Torvane is not "
    "installed, you need to install it and then restart Setup";

std::string Question(const std::string &folder)
{
    return "Setup found an application named 'Torvane' in:\n\n" + folder + "\n\nIs this the Torvane folder?";
}

Expect Ask(const std::string &folder, int press)
{
    return Expect{kCaption, Question(folder), MB_YESNO | MB_ICONQUESTION, press};
}

Expect Overwrite(const char *rel, int press)
{
    return Expect{"Overwrite?", std::string("The file ") + rel + " already exists.", -1, press, IDC_OVERWRITE_TEXT};
}

std::string Payload(const char *name)
{
    std::string b;
    EXPECT_TRUE(ts::ReadBytes(ts::PayloadFile(name), &b));
    return b;
}

std::string Contents(const std::string &path)
{
    std::string b;
    return ts::ReadBytes(path, &b) ? b : "<missing>";
}

void PutGame(const std::string &folder, bool withData = true)
{
    ASSERT_TRUE(ts::MakeDirs(folder));
    ASSERT_TRUE(ts::WriteBytes(folder + "torvane.exe", "MZ"));
    if (withData) {
        ASSERT_TRUE(ts::MakeDirs(folder + "tvdata\\"));
    }
}

// Everything under a registry key, one line a value: "key\name=type:data".
void DumpKey(HKEY root, const std::string &path, std::map<std::string, std::string> *out)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[16384];
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; i++) {
        DWORD nameLen = sizeof(name), dataLen = (DWORD)data.size(), type = 0;
        LONG r = RegEnumValueA(key, i, name, &nameLen, NULL, &type, data.data(), &dataLen);
        if (r == ERROR_MORE_DATA) {
            data.resize(dataLen + 1);
            i--;
            continue;
        }
        if (r != ERROR_SUCCESS)
            break;
        (*out)[path + "\\" + name] = std::to_string(type) + ":" + std::string((char *)data.data(), dataLen);
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; i++) {
        DWORD nameLen = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameLen, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (auto &k : subkeys)
        DumpKey(root, path.empty() ? k : path + "\\" + k, out);
}

// Every file and folder under dir with its size and write time.
void DumpTree(const std::string &dir, std::map<std::string, std::string> *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = fd.cFileName;
        if (n == "." || n == "..")
            continue;
        std::string path = dir + n;
        (*out)[path] = std::to_string(fd.nFileSizeLow) + "@" + std::to_string(fd.ftLastWriteTime.dwLowDateTime);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DumpTree(path + "\\", out);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

struct Snapshot {
    std::map<std::string, std::string> registry, files;
};

Snapshot TakeSnapshot()
{
    Snapshot s;
    DumpKey(HKEY_LOCAL_MACHINE, "", &s.registry);
    DumpKey(HKEY_CURRENT_USER, "", &s.registry);
    for (const char *root : {"C:\\", "D:\\", "F:\\"})
        DumpTree(root, &s.files);
    return s;
}

// What differs between two dumps, one line an entry.
std::vector<std::string> Changes(const std::map<std::string, std::string> &before,
                                 const std::map<std::string, std::string> &after)
{
    std::vector<std::string> out;
    for (auto &[k, v] : after) {
        auto it = before.find(k);
        if (it == before.end())
            out.push_back("added " + k);
        else if (it->second != v)
            out.push_back("changed " + k);
    }
    for (auto &[k, v] : before)
        if (!after.count(k))
            out.push_back("removed " + k);
    return out;
}

// One run of the setup program: a copy with Notepad's stand-in beside it.
class SetupRun {
  public:
    explicit SetupRun(const std::string &name, const char *version = nullptr)
    {
        dir_ = ts::ScratchDir();
        exe_ = ts::CopySetupTo(dir_, name + ".exe");
        CopyFileA("X:\\bin\\tests\\notepad.exe", (dir_ + "notepad.exe").c_str(), FALSE);
        ts::SetReportedVersion(name + ".exe", version ? version : "winxp");
        proc_ = uidrv::Launch(exe_.c_str(), dir_.c_str());
    }
    ~SetupRun()
    {
        if (proc_.process) {
            uidrv::Kill(proc_);
            uidrv::Release(proc_);
        }
    }
    DWORD pid() const { return proc_.pid; }
    std::string NotepadLog() const { return Contents(dir_ + "notepad.log"); }

    // The welcome dialog (the one with the Install button), once visible.
    HWND Welcome(DWORD timeout = 20000) { return Find(IDOK, "Install", timeout); }
    // The search dialog (the one with the animation).
    HWND Search(DWORD timeout = 20000) { return Find(IDC_ANIMATE, nullptr, timeout); }

    // Presses Install and answers the script once the search dialog is up.
    ::testing::AssertionResult Install(std::vector<Expect> script)
    {
        HWND welcome = Welcome();
        if (!welcome)
            return ::testing::AssertionFailure() << "no welcome dialog\n" << uidrv::DescribeVisibleDialogs();
        uidrv::PressButton(welcome, IDOK);
        if (!Search())
            return ::testing::AssertionFailure() << "no search dialog\n" << uidrv::DescribeVisibleDialogs();
        uidrv::Answerer answerer(std::move(script), proc_.pid, 20000);
        answerer.Start();
        if (!answerer.Finish(60000)) {
            std::string log;
            for (auto &l : answerer.Log())
                log += "  " + l + "\n";
            return ::testing::AssertionFailure() << answerer.Failure() << "\nseen:\n" << log;
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult EndsWithZero(DWORD timeout = 20000)
    {
        DWORD code = 99;
        if (!uidrv::WaitExit(proc_, timeout, &code))
            return ::testing::AssertionFailure() << "still running\n" << uidrv::DescribeVisibleDialogs();
        if (code != 0)
            return ::testing::AssertionFailure() << "exit code " << code;
        return ::testing::AssertionSuccess();
    }

  private:
    HWND Find(int id, const char *text, DWORD timeout)
    {
        DWORD start = GetTickCount();
        do {
            HWND h = NULL;
            while ((h = FindWindowExA(NULL, h, "#32770", kCaption)) != NULL) {
                if (!IsWindowVisible(h) || uidrv::ProcessOf(h) != proc_.pid || !uidrv::Control(h, id))
                    continue;
                if (!text || uidrv::ControlText(h, id) == text)
                    return h;
            }
            Sleep(20);
        } while (GetTickCount() - start < timeout);
        return NULL;
    }

    std::string dir_, exe_;
    uidrv::Proc proc_{};
};

class Flow : public ::testing::Test {
  protected:
    void SetUp() override
    {
        for (char d : {'D', 'F'})
            ts::ClearDrive(d);
        ts::ClearPendingMoves();
    }
    void TearDown() override
    {
        for (HANDLE h : held_)
            CloseHandle(h);
        for (char d : {'D', 'F'})
            ts::ClearDrive(d);
        ts::ClearPendingMoves();
    }
    void Hold(const std::string &path)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        held_.push_back(h);
    }
    void ExpectInstalled(const std::string &folder)
    {
        EXPECT_EQ(Contents(folder + "tvdata\\vxmain.vdf"), Payload("vxmain.vdf"));
        EXPECT_EQ(Contents(folder + "tvdata\\vxsky_readme.txt"), Payload("vxsky_readme.txt"));
        EXPECT_EQ(ts::ListDir(folder + "tvdata\\").size(), 2u);   // no .tmp, no .000
    }
    std::vector<HANDLE> held_;
};

}  // namespace

TEST_F(Flow, CleanRunInstallsOpensTheReadMeAndEnds)
{
    PutGame("D:\\Games\\Torvane\\");
    SetupRun run("clean");
    EXPECT_TRUE(run.Install({Ask("D:\\Games\\Torvane\\", IDYES), Expect{"Done!", kDone, MB_ICONEXCLAMATION, IDOK}}));
    EXPECT_TRUE(run.EndsWithZero());
    ExpectInstalled("D:\\Games\\Torvane\\");
    EXPECT_EQ(run.NotepadLog(), "notepad \"D:\\Games\\Torvane\\tvdata/vxsky_readme.txt\"\r\n");
}

TEST_F(Flow, CleanRunChangesNothingButTheDataFolder)
{
    PutGame("D:\\Games\\Torvane\\");
    ASSERT_TRUE(ts::SetReportedVersion("touch.exe", "winxp"));   // before the picture
    Snapshot before = TakeSnapshot();
    {
        SetupRun run("touch");
        EXPECT_TRUE(run.Install({Ask("D:\\Games\\Torvane\\", IDYES), Expect{"Done!", kDone, MB_ICONEXCLAMATION, IDOK}}));
        EXPECT_TRUE(run.EndsWithZero());
    }
    Snapshot after = TakeSnapshot();
    ASSERT_GT(before.registry.size(), 1000u);
    ASSERT_GT(before.files.size(), 100u);

    // Wine's display driver stamps its date into the video keys whenever a
    // process opens the display; that is Wine's, not the setup's.
    for (Snapshot *snap : {&before, &after})
        for (auto it = snap->registry.begin(); it != snap->registry.end();)
            it = it->first.find("\\DriverDateData") != std::string::npos ? snap->registry.erase(it) : std::next(it);
    std::vector<std::string> reg = Changes(before.registry, after.registry);
    std::string regText;
    for (auto &c : reg)
        regText += "  " + c + "\n";
    EXPECT_TRUE(reg.empty()) << regText;

    // the data folder itself gets a new write time and the two files
    std::vector<std::string> expected = {
        "added D:\\Games\\Torvane\\tvdata\\vxmain.vdf",
        "added D:\\Games\\Torvane\\tvdata\\vxsky_readme.txt",
        "changed D:\\Games\\Torvane\\tvdata",
    };
    std::vector<std::string> files = Changes(before.files, after.files);
    std::sort(files.begin(), files.end());
    std::string fileText;
    for (auto &c : files)
        fileText += "  " + c + "\n";
    EXPECT_EQ(files, expected) << fileText;
}

TEST_F(Flow, DeclinedCandidateThenAcceptedSecond)
{
    PutGame("D:\\Old\\Torvane\\");
    PutGame("F:\\Torvane\\");
    SetupRun run("second");
    EXPECT_TRUE(run.Install({Ask("D:\\Old\\Torvane\\", IDNO), Ask("F:\\Torvane\\", IDYES),
                             Expect{"Done!", kDone, MB_ICONEXCLAMATION, IDOK}}));
    EXPECT_TRUE(run.EndsWithZero());
    ExpectInstalled("F:\\Torvane\\");
    EXPECT_TRUE(ts::ListDir("D:\\Old\\Torvane\\tvdata\\").empty());
}

TEST_F(Flow, NothingFoundOpensThePickerAndInstallsIntoThePickedFolder)
{
    ASSERT_TRUE(ts::MakeDirs("D:\\Picked\\tvdata\\"));
    SetupRun run("picked");
    HWND welcome = run.Welcome();
    ASSERT_NE(welcome, nullptr);
    uidrv::PressButton(welcome, IDOK);
    uidrv::Answerer notice({Expect{"Browse", kNotFound, MB_ICONINFORMATION, IDOK}}, run.pid(), 30000);
    notice.Start();
    ASSERT_TRUE(notice.Finish(40000)) << notice.Failure();
    HWND picker = uidrv::WaitForDialog("Browse for Folder", 20000, run.pid());
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(ts::SelectFolderInPicker(picker, {"D:", "Picked"}));
    uidrv::PressButton(picker, IDOK);
    uidrv::Answerer done({Expect{"Done!", kDone, MB_ICONEXCLAMATION, IDOK}}, run.pid(), 20000);
    done.Start();
    EXPECT_TRUE(done.Finish(30000)) << done.Failure();
    EXPECT_TRUE(run.EndsWithZero());
    ExpectInstalled("D:\\Picked\\");
}

TEST_F(Flow, CancelledSearchReturnsToWelcomeAndInstallSearchesAfresh)
{
    PutGame("D:\\Torvane\\");
    // a wide tree after the candidate keeps the worker busy
    for (int i = 0; i < 40; i++)
        for (int j = 0; j < 40; j++)
            ts::MakeDirs("F:\\wide\\" + std::to_string(i) + "\\" + std::to_string(j) + "\\");
    SetupRun run("cancel");
    for (int attempt = 0; attempt < 2; attempt++) {
        HWND welcome = run.Welcome();
        ASSERT_NE(welcome, nullptr) << uidrv::DescribeVisibleDialogs();
        uidrv::PressButton(welcome, IDOK);
        HWND search = run.Search();
        ASSERT_NE(search, nullptr);
        uidrv::Answerer ask({Ask("D:\\Torvane\\", IDNO)}, run.pid(), 20000);
        ask.Start();
        ASSERT_TRUE(ask.Finish(30000)) << ask.Failure();
        for (int i = 0; i < 100 && !IsWindowEnabled(search); i++)
            Sleep(10);
        uidrv::PressButton(search, IDCANCEL);
        ASSERT_TRUE(uidrv::WaitForDialogGone(search, 20000));
    }
    HWND welcome = run.Welcome();
    ASSERT_NE(welcome, nullptr);
    uidrv::PressButton(welcome, IDCANCEL);
    EXPECT_TRUE(run.EndsWithZero());
    EXPECT_TRUE(ts::ListDir("D:\\Torvane\\tvdata\\").empty());
}

TEST_F(Flow, CancelledPickerReturnsToWelcome)
{
    SetupRun run("nopick");
    HWND welcome = run.Welcome();
    ASSERT_NE(welcome, nullptr);
    uidrv::PressButton(welcome, IDOK);
    uidrv::Answerer rest({Expect{"Browse", kNotFound, MB_ICONINFORMATION, IDOK},
                          Expect{"Browse for Folder", "", -1, IDCANCEL}},
                         run.pid(), 30000);
    rest.Start();
    ASSERT_TRUE(rest.Finish(40000)) << rest.Failure();
    welcome = run.Welcome();
    ASSERT_NE(welcome, nullptr);
    uidrv::PressButton(welcome, IDCANCEL);
    EXPECT_TRUE(run.EndsWithZero());
}

TEST_F(Flow, DeclinedOverwriteReturnsToWelcomeAndYesToAllLasts)
{
    PutGame("D:\\Torvane\\");
    ASSERT_TRUE(ts::WriteBytes("D:\\Torvane\\tvdata\\vxmain.vdf", "old main"));
    ASSERT_TRUE(ts::WriteBytes("D:\\Torvane\\tvdata\\vxsky_readme.txt", "old read-me"));
    SetupRun run("overwrite");
    EXPECT_TRUE(run.Install({Ask("D:\\Torvane\\", IDYES), Overwrite("tvdata\\vxmain.vdf", IDNO),
                             Overwrite("tvdata\\vxsky_readme.txt", IDC_YESTOALL),
                             Expect{"Error", kDeclined, MB_ICONHAND, IDOK}}));
    ASSERT_NE(run.Welcome(), nullptr);
    EXPECT_EQ(Contents("D:\\Torvane\\tvdata\\vxmain.vdf"), "old main");
    EXPECT_EQ(run.NotepadLog(), "<missing>");
    // the second Install searches again; Yes to All still holds
    EXPECT_TRUE(run.Install({Ask("D:\\Torvane\\", IDYES), Expect{"Done!", kDone, MB_ICONEXCLAMATION, IDOK}}));
    EXPECT_TRUE(run.EndsWithZero());
    ExpectInstalled("D:\\Torvane\\");
}

TEST_F(Flow, FileInUseOnNtEndsWithTheRestartNotice)
{
    PutGame("D:\\Torvane\\");
    ASSERT_TRUE(ts::WriteBytes("D:\\Torvane\\tvdata\\vxmain.vdf", "running"));
    Hold("D:\\Torvane\\tvdata\\vxmain.vdf");
    SetupRun run("inuse_nt", "winxp");
    EXPECT_TRUE(run.Install(
        {Ask("D:\\Torvane\\", IDYES),
         Expect{"Almost done...",
                "Some file(s) you tried to overwrite were in use during the installation.  In order for the "
                "installation to finish, you must restart Windows.\n\nPlease restart now.",
                MB_ICONINFORMATION, IDOK}}));
    EXPECT_TRUE(run.EndsWithZero());
    EXPECT_EQ(Contents("D:\\Torvane\\tvdata\\vxmain.000"), Payload("vxmain.vdf"));
    EXPECT_EQ(ts::PendingMoves().size(), 2u);
    EXPECT_EQ(run.NotepadLog(), "<missing>");
}

TEST_F(Flow, FileInUseOn9xAsksForTheRestart)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, MAX_PATH);
    std::string ini = std::string(win) + "\\wininit.ini";
    DeleteFileA(ini.c_str());
    PutGame("D:\\Torvane\\");
    ASSERT_TRUE(ts::WriteBytes("D:\\Torvane\\tvdata\\vxsky_readme.txt", "open"));
    Hold("D:\\Torvane\\tvdata\\vxsky_readme.txt");
    SetupRun run("inuse_98", "win98");
    EXPECT_TRUE(run.Install(
        {Ask("D:\\Torvane\\", IDYES),
         Expect{"Almost done...",
                "Some file(s) you tried to overwrite were in use during the installation.  In order for the "
                "installation to finish, you must restart Windows.\n\nDo you want to restart now?",
                MB_YESNO | MB_ICONQUESTION, IDNO}}));
    EXPECT_TRUE(run.EndsWithZero());
    char value[MAX_PATH] = "";
    char key[MAX_PATH] = "";
    GetShortPathNameA("D:\\Torvane\\tvdata\\vxsky_readme.txt", key, MAX_PATH);
    GetPrivateProfileStringA("rename", key, "", value, MAX_PATH, ini.c_str());
    char side[MAX_PATH] = "";
    GetShortPathNameA("D:\\Torvane\\tvdata\\vxsky_readme.000", side, MAX_PATH);
    EXPECT_STREQ(value, side);
    EXPECT_TRUE(ts::PendingMoves().empty());
    DeleteFileA(ini.c_str());
}

TEST_F(Flow, MissingDataFolderFailsAndReturnsToWelcome)
{
    PutGame("D:\\Torvane\\", false);
    SetupRun run("nodata");
    Expect no{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO};
    EXPECT_TRUE(run.Install({Ask("D:\\Torvane\\", IDYES), no, no, Expect{"Error", kFailed, MB_ICONHAND, IDOK}}));
    HWND welcome = run.Welcome();
    ASSERT_NE(welcome, nullptr);
    uidrv::PressButton(welcome, IDCANCEL);
    EXPECT_TRUE(run.EndsWithZero());
    EXPECT_FALSE(ts::DirExists("D:\\Torvane\\tvdata\\"));
}
