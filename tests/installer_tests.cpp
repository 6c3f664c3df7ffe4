// Installing payload entries for real under Wine: the overwrite question,
// files in use and their replacement at restart, failures, path lengths and
// the whole run with its summaries. Message boxes and the overwrite dialog
// raised on the test thread are answered by a driver thread.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <thread>
#include <vector>

#include "installer/installer.h"
#include "payload/payload.h"
#include "setup/setup.h"
#include "setup/state.h"
#include "resources/resource.h"
#include "test_support.h"
#include "ui_driver.h"

using uidrv::Expect;

namespace {

const char kTempQuestion[] = "Could not make a temp file.  Try again?";
const char kDeclinedText[] =
    "You chose not to overwrite some file(s).  The installation may not have completed successfully.";
const char kFailedText[] =
    "Some file(s) could not be copied do to the install program being corrupt or a disk error.  "
    "The installation may not have completed successfully.";
const char kRestartNt[] =
    "Some file(s) you tried to overwrite were in use during the installation.  In order for the "
    "installation to finish, you must restart Windows.\n\nPlease restart now.";
const char kRestart9x[] =
    "Some file(s) you tried to overwrite were in use during the installation.  In order for the "
    "installation to finish, you must restart Windows.\n\nDo you want to restart now?";

std::string Payload(const char *name)
{
    std::string bytes;
    EXPECT_TRUE(ts::ReadBytes(ts::PayloadFile(name), &bytes)) << name;
    return bytes;
}

std::string Contents(const std::string &path)
{
    std::string bytes;
    if (!ts::ReadBytes(path, &bytes))
        return "<missing>";
    return bytes;
}

std::string NotepadLog()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string p(path);
    return p.substr(0, p.find_last_of('\\') + 1) + "notepad.log";
}

// Runs fn on this thread while the driver answers the script.
template <typename F>
void Answering(std::vector<Expect> script, F fn)
{
    uidrv::Answerer answerer(std::move(script), GetCurrentProcessId());
    answerer.Start();
    fn();
    bool ok = answerer.Finish(15000);
    std::string log;
    for (const std::string &line : answerer.Log())
        log += "  " + line + "\n";
    EXPECT_TRUE(ok) << answerer.Failure() << "\nboxes seen:\n" << log;
}

class InstallerTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        ZeroMemory(&g_osVersion, sizeof(g_osVersion));
        g_osVersion.dwOSVersionInfoSize = sizeof(g_osVersion);
        g_osVersion.dwMajorVersion = 5;
        g_osVersion.dwPlatformId = VER_PLATFORM_WIN32_NT;
        g_yesToAll = 0;
        // the copying dialog owns every box of the copying phase
        copying_ = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_COPYING), NULL, CopyDlgProc, 0);
        ASSERT_NE(copying_, nullptr);
        SetCurrentDialog(copying_);
        dir_ = ts::ScratchDir();
        ts::ClearPendingMoves();
        DeleteFileA(NotepadLog().c_str());
    }
    void TearDown() override
    {
        for (HANDLE h : held_)
            CloseHandle(h);
        DestroyWindow(copying_);
        ts::ClearPendingMoves();
    }
    // Keeps path open with the given sharing, as another program would.
    void Hold(const std::string &path, DWORD share)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
        held_.push_back(h);
    }
    void ReleaseHolds()
    {
        for (HANDLE h : held_)
            CloseHandle(h);
        held_.clear();
    }
    std::string Data() { return dir_ + "tvdata\\"; }
    void MakeData() { ASSERT_TRUE(ts::MakeDirs(Data())); }

    HWND copying_ = nullptr;
    std::string dir_;
    std::vector<HANDLE> held_;
};

Expect Overwrite(const char *relName, int press)
{
    return Expect{"Overwrite?", std::string("The file ") + relName + " already exists.", -1, press,
                  IDC_OVERWRITE_TEXT};
}

}  // namespace

// ------------------------------------------------------------ overwrite

using OverwriteQuestion = InstallerTest;

TEST_F(OverwriteQuestion, AbsentTargetIsWrittenWithoutQuestion)
{
    MakeData();
    InstallResult r;
    ASSERT_TRUE(ts::NoDialogDuring([&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); }));
    EXPECT_EQ(r, INSTALL_OK);
    EXPECT_EQ(Contents(Data() + "vxmain.vdf"), Payload("vxmain.vdf"));
    EXPECT_EQ(ts::ListDir(Data()), std::vector<std::string>{"vxmain.vdf"});   // no .tmp, no .000
}

TEST_F(OverwriteQuestion, NamesTheRelativeNameAndHonoursEachAnswer)
{
    MakeData();
    std::string target = Data() + "vxsky_readme.txt";
    struct Case { int press; InstallResult want; bool replaced; };
    for (Case c : {Case{IDNO, INSTALL_DECLINED, false}, Case{IDYES, INSTALL_OK, true}}) {
        ASSERT_TRUE(ts::WriteBytes(target, "old read-me"));
        InstallResult r;
        Answering({Overwrite("tvdata\\vxsky_readme.txt", c.press)},
                  [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxsky_readme.txt", "vxsky_readme.txt"); });
        EXPECT_EQ(r, c.want);
        EXPECT_EQ(Contents(target), c.replaced ? Payload("vxsky_readme.txt") : "old read-me");
        EXPECT_EQ(ts::ListDir(Data()), std::vector<std::string>{"vxsky_readme.txt"});
        EXPECT_EQ(g_yesToAll, 0);
    }
}

TEST_F(OverwriteQuestion, CloseBoxCountsAsNo)
{
    MakeData();
    std::string target = Data() + "vxmain.vdf";
    ASSERT_TRUE(ts::WriteBytes(target, "old"));
    InstallResult r;
    Answering({Overwrite("tvdata\\vxmain.vdf", uidrv::kCloseBox)},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_DECLINED);
    EXPECT_EQ(Contents(target), "old");
}

TEST_F(OverwriteQuestion, YesToAllSilencesEveryLaterQuestion)
{
    MakeData();
    ASSERT_TRUE(ts::WriteBytes(Data() + "vxmain.vdf", "old"));
    ASSERT_TRUE(ts::WriteBytes(Data() + "vxsky_readme.txt", "old"));
    InstallResult r;
    Answering({Overwrite("tvdata\\vxmain.vdf", IDC_YESTOALL)},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_OK);
    EXPECT_EQ(g_yesToAll, 1);
    // later files of this run and of a later run: no question at all
    for (int run = 0; run < 2; run++) {
        ASSERT_TRUE(ts::NoDialogDuring([&] {
            r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxsky_readme.txt", "vxsky_readme.txt");
        }));
        EXPECT_EQ(r, INSTALL_OK);
    }
    EXPECT_EQ(Contents(Data() + "vxsky_readme.txt"), Payload("vxsky_readme.txt"));
}

// ------------------------------------------------------------ in use

using InUse = InstallerTest;

TEST_F(InUse, ReadableTargetIsAskedAboutThenDeferredOnNt)
{
    MakeData();
    std::string target = Data() + "vxmain.vdf";
    ASSERT_TRUE(ts::WriteBytes(target, "running"));
    Hold(target, FILE_SHARE_READ);
    InstallResult r;
    Answering({Overwrite("tvdata\\vxmain.vdf", IDYES)},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_DEFERRED);
    EXPECT_EQ(Contents(target), "running");
    EXPECT_EQ(Contents(Data() + "vxmain.000"), Payload("vxmain.vdf"));
    EXPECT_FALSE(ts::FileExists(Data() + "vxmain.tmp"));
    // first the target goes, then the side file takes its name
    auto moves = ts::PendingMoves();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].first, target);
    EXPECT_EQ(moves[0].second, "");
    EXPECT_EQ(moves[1].first, Data() + "vxmain.000");
    EXPECT_EQ(moves[1].second, target);
}

TEST_F(InUse, TargetThatAllowsNothingCountsAsAbsentYetIsDeferred)
{
    MakeData();
    std::string target = Data() + "vxsky_readme.txt";
    ASSERT_TRUE(ts::WriteBytes(target, "locked"));
    Hold(target, 0);
    InstallResult r;
    ASSERT_TRUE(ts::NoDialogDuring([&] {
        r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxsky_readme.txt", "vxsky_readme.txt");
    }));
    EXPECT_EQ(r, INSTALL_DEFERRED);
    EXPECT_EQ(Contents(Data() + "vxsky_readme.000"), Payload("vxsky_readme.txt"));
    EXPECT_EQ(ts::PendingMoves().size(), 2u);
    ReleaseHolds();
    EXPECT_EQ(Contents(target), "locked");
}

TEST_F(InUse, DeclinedBeforeTheProbe)
{
    MakeData();
    std::string target = Data() + "vxmain.vdf";
    ASSERT_TRUE(ts::WriteBytes(target, "running"));
    Hold(target, FILE_SHARE_READ);
    InstallResult r;
    Answering({Overwrite("tvdata\\vxmain.vdf", IDNO)},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_DECLINED);
    EXPECT_EQ(ts::ListDir(Data()), std::vector<std::string>{"vxmain.vdf"});
    EXPECT_TRUE(ts::PendingMoves().empty());
}

namespace {

std::string IniPath()
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, MAX_PATH);
    return std::string(win) + "\\wininit.ini";
}

std::string ShortPath(const std::string &p)
{
    char s[MAX_PATH];
    DWORD n = GetShortPathNameA(p.c_str(), s, MAX_PATH);
    return n && n < MAX_PATH ? std::string(s) : std::string();
}

std::vector<std::pair<std::string, std::string>> RenameSection()
{
    std::vector<std::pair<std::string, std::string>> entries;
    char buf[8192];
    DWORD n = GetPrivateProfileSectionA("rename", buf, sizeof(buf), IniPath().c_str());
    for (const char *p = buf; p < buf + n && *p; p += strlen(p) + 1) {
        std::string line(p);
        size_t eq = line.find('=');
        entries.emplace_back(line.substr(0, eq), eq == std::string::npos ? "" : line.substr(eq + 1));
    }
    return entries;
}

}  // namespace

TEST_F(InUse, Windows9xWritesShortPathsToTheRenameSection)
{
    g_osVersion.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    g_osVersion.dwMajorVersion = 4;
    DeleteFileA(IniPath().c_str());
    MakeData();
    std::string main = Data() + "vxmain.vdf", readme = Data() + "vxsky_readme.txt";
    ASSERT_TRUE(ts::WriteBytes(main, "a"));
    ASSERT_TRUE(ts::WriteBytes(readme, "b"));
    Hold(main, FILE_SHARE_READ);
    Hold(readme, 0);
    g_yesToAll = 1;
    EXPECT_EQ(InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"), INSTALL_DEFERRED);
    EXPECT_EQ(InstallPayloadFile(dir_.c_str(), "tvdata\\vxsky_readme.txt", "vxsky_readme.txt"), INSTALL_DEFERRED);
    auto entries = RenameSection();
    DeleteFileA(IniPath().c_str());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, ShortPath(main));
    EXPECT_EQ(entries[0].second, ShortPath(Data() + "vxmain.000"));
    EXPECT_EQ(entries[1].first, ShortPath(readme));
    EXPECT_EQ(entries[1].second, ShortPath(Data() + "vxsky_readme.000"));
    EXPECT_NE(entries[1].first, readme);       // really the short form
    EXPECT_TRUE(ts::PendingMoves().empty());   // and no NT registration
}

TEST_F(InUse, Windows9xPathThatHasNoShortFormIsRefused)
{
    // The side file vanishes before the conversion: GetShortPathName fails,
    // so the entry must not be written from an unfilled buffer.
    g_osVersion.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    DeleteFileA(IniPath().c_str());
    MakeData();
    std::string target = Data() + "vxmain.vdf";
    ASSERT_TRUE(ts::WriteBytes(target, "a"));
    InstallResult r;
    Answering({Expect{"Sorry!",
                      "Due to a path-length limitation in Windows 95, you must delete the file " +
                          Data() + "vxmissing.vdf yourself and re-run setup.",
                      MB_ICONEXCLAMATION, IDOK}},
              [&] { r = ScheduleReplaceAtRestart((Data() + "vxmissing.vdf").c_str(), (Data() + "vxmain.vdf").c_str()); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_FALSE(ts::FileExists(target));      // the side file is removed
    EXPECT_TRUE(RenameSection().empty());
}

TEST_F(InUse, NtRegistersWithoutAnyMessage)
{
    MakeData();
    ASSERT_TRUE(ts::WriteBytes(Data() + "x.000", "new"));
    InstallResult r;
    ASSERT_TRUE(ts::NoDialogDuring([&] {
        r = ScheduleReplaceAtRestart((Data() + "x.dat").c_str(), (Data() + "x.000").c_str());
    }));
    EXPECT_EQ(r, INSTALL_DEFERRED);
    EXPECT_EQ(ts::PendingMoves().size(), 2u);
}

// ------------------------------------------------------------ failures

using Failures = InstallerTest;

TEST_F(Failures, MissingDataFolderRepeatsTheTempQuestionUntilNo)
{
    InstallResult r;
    Expect again{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDYES};
    Expect stop{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO};
    Answering({again, again, stop},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_TRUE(ts::ListDir(dir_).empty());
}

TEST_F(Failures, DestinationThatCannotBeCreatedNamesTheSidePath)
{
    MakeData();
    std::string target = Data() + "vxmain.vdf";
    ASSERT_TRUE(ts::WriteBytes(target, "running"));
    Hold(target, 0);
    ASSERT_TRUE(ts::MakeDirs(Data() + "vxmain.000"));     // the side name is taken
    InstallResult r;
    Answering({Expect{"Create Failed", Data() + "vxmain.000", MB_OK, IDOK}},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_FALSE(ts::FileExists(Data() + "vxmain.tmp"));
    EXPECT_FALSE(ts::FileExists(Data() + "vxmain.00_"));   // nothing under another name
    ReleaseHolds();
    EXPECT_EQ(Contents(target), "running");
    EXPECT_TRUE(ts::PendingMoves().empty());
}

TEST_F(Failures, EmptyEntryIsADiskErrorNamingTheTarget)
{
    MakeData();
    std::string target = Data() + "empty.bin";
    ASSERT_TRUE(ts::WriteBytes(target, "previous"));
    g_yesToAll = 1;
    InstallResult r;
    Answering({Expect{"Error",
                      "The file, " + target +
                          ", could not be copied due to a disk error.  Perhaps you are out of disk space?",
                      MB_ICONHAND, IDOK}},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\empty.bin", "empty.bin"); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_TRUE(ts::ListDir(Data()).empty());   // target removed, no .tmp
}

TEST_F(Failures, TemporaryNameTakenByADirectory)
{
    MakeData();
    ASSERT_TRUE(ts::MakeDirs(Data() + "vxmain.tmp"));
    InstallResult r;
    Answering({Expect{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO}},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_FALSE(ts::FileExists(Data() + "vxmain.vdf"));
}

TEST_F(Failures, ReadOnlyTargetIsReplacedOrDeferredAsItsFileSystemAllows)
{
    // A read-only file refuses writers on Windows; Wine run as root lets
    // them through. Either way the outcome follows the write probe: in
    // place when it can be written, beside it and deferred when not.
    MakeData();
    std::string target = Data() + "vxsky_readme.txt";
    ASSERT_TRUE(ts::WriteBytes(target, "kept"));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE w = CreateFileA(target.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    bool writable = w != INVALID_HANDLE_VALUE;
    if (writable)
        CloseHandle(w);
    InstallResult r;
    Answering({Overwrite("tvdata\\vxsky_readme.txt", IDYES)},
              [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxsky_readme.txt", "vxsky_readme.txt"); });
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(ts::FileExists(Data() + "vxsky_readme.tmp"));
    if (writable) {
        EXPECT_EQ(r, INSTALL_OK);
        EXPECT_EQ(Contents(target), Payload("vxsky_readme.txt"));
        EXPECT_EQ(ts::ListDir(Data()).size(), 1u);
        EXPECT_TRUE(ts::PendingMoves().empty());
    } else {
        EXPECT_EQ(r, INSTALL_DEFERRED);
        EXPECT_EQ(Contents(target), "kept");
        EXPECT_EQ(Contents(Data() + "vxsky_readme.000"), Payload("vxsky_readme.txt"));
        EXPECT_EQ(ts::PendingMoves().size(), 2u);
    }
}

TEST_F(Failures, TargetThatIsADirectoryIsNotAskedAboutAndDeferred)
{
    MakeData();
    ASSERT_TRUE(ts::MakeDirs(Data() + "vxmain.vdf"));
    InstallResult r;
    ASSERT_TRUE(ts::NoDialogDuring(
        [&] { r = InstallPayloadFile(dir_.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); }));
    EXPECT_EQ(r, INSTALL_DEFERRED);
    EXPECT_TRUE(ts::DirExists(Data() + "vxmain.vdf"));
    EXPECT_EQ(Contents(Data() + "vxmain.000"), Payload("vxmain.vdf"));
    EXPECT_FALSE(ts::FileExists(Data() + "vxmain.tmp"));
}

TEST_F(Failures, FullDiskIsADiskErrorAndLeavesNothing)
{
    // H: is a small file system of the bed: the temporary file fits, the
    // expanded copy beside it does not
    if (!ts::DirExists("H:\\"))
        GTEST_SKIP() << "the bed has no small drive (mounting a tmpfs needs root)";
    ts::RemoveTree("H:\\tvdata");
    ASSERT_TRUE(ts::MakeDirs("H:\\tvdata\\"));
    ULARGE_INTEGER freeBefore{}, freeAfter{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("H:\\", &freeBefore, NULL, NULL));
    ASSERT_LT(freeBefore.QuadPart, 2 * Payload("vxmain.vdf").size());
    InstallResult r;
    Answering({Expect{"Error",
                      "The file, H:\\tvdata\\vxmain.vdf, could not be copied due to a disk error.  "
                      "Perhaps you are out of disk space?",
                      MB_ICONHAND, IDOK}},
              [&] { r = InstallPayloadFile("H:\\", "tvdata\\vxmain.vdf", "vxmain.vdf"); });
    EXPECT_EQ(r, INSTALL_FAILED);
    EXPECT_TRUE(ts::ListDir("H:\\tvdata\\").empty());
    ASSERT_TRUE(GetDiskFreeSpaceExA("H:\\", &freeAfter, NULL, NULL));
    EXPECT_EQ(freeAfter.QuadPart, freeBefore.QuadPart);
    ts::RemoveTree("H:\\tvdata");
}

// ------------------------------------------------------------ lengths

using Lengths = InstallerTest;

namespace {

// A folder (ending in a backslash) of exactly len characters below base.
std::string FolderOfLength(const std::string &base, size_t len)
{
    std::string f = base;
    while (f.size() < len) {
        size_t room = len - f.size();
        size_t seg = room > 40 ? 39 : room - 1;
        if (room - (seg + 1) == 1)          // never leave a 1-character tail
            seg--;
        f += std::string(seg ? seg : 1, 'p') + "\\";
    }
    return f;
}

}  // namespace

TEST_F(Lengths, TargetsUpToTheOpenFileLimitInstallLongerOnesAreRefusedOnce)
{
    // the existence test and the expand-copy take paths of at most 127
    // characters; "tvdata\vxmain.vdf" is 17 of them
    for (size_t targetLen : {126, 127, 128, 129, 200, 259, 270}) {
        std::string folder = FolderOfLength(dir_, targetLen - 17);
        ASSERT_EQ(folder.size() + 17, targetLen);
        ts::MakeDirs(folder + "tvdata\\");
        InstallResult r;
        if (targetLen <= 127) {
            ASSERT_TRUE(ts::NoDialogDuring(
                [&] { r = InstallPayloadFile(folder.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); }));
            EXPECT_EQ(r, INSTALL_OK) << targetLen;
            EXPECT_EQ(Contents(folder + "tvdata\\vxmain.vdf"), Payload("vxmain.vdf"));
        } else {
            Answering({Expect{"Error",
                              "The file, tvdata\\vxmain.vdf, could not be copied because the path of the "
                              "Torvane folder is too long.",
                              MB_ICONHAND, IDOK}},
                      [&] { r = InstallPayloadFile(folder.c_str(), "tvdata\\vxmain.vdf", "vxmain.vdf"); });
            EXPECT_EQ(r, INSTALL_FAILED) << targetLen;
            if (folder.size() < MAX_PATH - 7) {
                EXPECT_TRUE(ts::ListDir(folder + "tvdata\\").empty()) << targetLen;
            }
        }
    }
}

TEST_F(Lengths, EmptyFolderUsesTheRelativeNameInTheCurrentDirectory)
{
    MakeData();
    char old[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, old);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    InstallResult r = InstallPayloadFile("", "tvdata\\vxsky_readme.txt", "vxsky_readme.txt");
    SetCurrentDirectoryA(old);
    EXPECT_EQ(r, INSTALL_OK);
    EXPECT_EQ(Contents(Data() + "vxsky_readme.txt"), Payload("vxsky_readme.txt"));
}

// ------------------------------------------------------------ the run

using InstallRun = InstallerTest;

TEST_F(InstallRun, CleanRunOpensTheReadMeBeforeTheSuccessMessage)
{
    MakeData();
    strcpy(g_gameFolder, dir_.c_str());
    int r = -5;
    bool notepadFirst = false;
    std::string text;
    UINT style = 0;
    std::thread driver([&] {
        HWND done = uidrv::WaitForDialog("Done!", 20000, GetCurrentProcessId());
        if (!done)
            return;
        // the stand-in Notepad was started before the message: its log is
        // there or about to be (it runs on its own)
        for (int i = 0; i < 100 && !ts::FileExists(NotepadLog()); i++)
            Sleep(50);
        notepadFirst = ts::FileExists(NotepadLog());
        text = uidrv::MessageBoxText(done);
        style = uidrv::MessageBoxStyle(done);
        uidrv::PressButton(done, IDOK);
    });
    r = InstallAllFiles();
    driver.join();
    EXPECT_EQ(text, "Vexmoor Skyrift has been installed successfully!");
    EXPECT_EQ(style, (UINT)MB_ICONEXCLAMATION);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(notepadFirst);
    EXPECT_EQ(Contents(NotepadLog()), "notepad \"" + dir_ + "tvdata/vxsky_readme.txt\"\r\n");
    EXPECT_EQ(Contents(Data() + "vxmain.vdf"), Payload("vxmain.vdf"));
    EXPECT_EQ(Contents(Data() + "vxsky_readme.txt"), Payload("vxsky_readme.txt"));
    EXPECT_EQ(ts::ListDir(Data()).size(), 2u);
}

TEST_F(InstallRun, DeclinedThenFailedReportedInThatOrder)
{
    MakeData();
    strcpy(g_gameFolder, dir_.c_str());
    ASSERT_TRUE(ts::WriteBytes(Data() + "vxmain.vdf", "old"));
    ASSERT_TRUE(ts::MakeDirs(Data() + "vxsky_readme.tmp"));   // no temporary file for the read-me
    int r = -5;
    Answering({Overwrite("tvdata\\vxmain.vdf", IDNO),
               Expect{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO},
               Expect{"Error", kDeclinedText, MB_ICONHAND, IDOK},
               Expect{"Error", kFailedText, MB_ICONHAND, IDOK}},
              [&] { r = InstallAllFiles(); });
    EXPECT_EQ(r, 1);
    EXPECT_FALSE(ts::FileExists(NotepadLog()));
}

TEST_F(InstallRun, MissingDataFolderFailsBothEntries)
{
    strcpy(g_gameFolder, dir_.c_str());
    int r = -5;
    Expect no{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO};
    Answering({no, no, Expect{"Error", kFailedText, MB_ICONHAND, IDOK}}, [&] { r = InstallAllFiles(); });
    EXPECT_EQ(r, 1);
}

TEST_F(InstallRun, DeferredOnNtEndsTheSetupAfterTheFailureMessage)
{
    MakeData();
    strcpy(g_gameFolder, dir_.c_str());
    ASSERT_TRUE(ts::WriteBytes(Data() + "vxmain.vdf", "running"));
    Hold(Data() + "vxmain.vdf", 0);
    ASSERT_TRUE(ts::MakeDirs(Data() + "vxsky_readme.tmp"));
    int r = -5;
    Answering({Expect{"Error", kTempQuestion, MB_YESNO | MB_ICONQUESTION, IDNO},
               Expect{"Error", kFailedText, MB_ICONHAND, IDOK},
               Expect{"Almost done...", kRestartNt, MB_ICONINFORMATION, IDOK}},
              [&] { r = InstallAllFiles(); });
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(ts::FileExists(NotepadLog()));
}

TEST_F(InstallRun, DeferredOn9xAsksAndNoEndsTheSetupWithoutReadMe)
{
    g_osVersion.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    DeleteFileA(IniPath().c_str());
    MakeData();
    strcpy(g_gameFolder, dir_.c_str());
    ASSERT_TRUE(ts::WriteBytes(Data() + "vxsky_readme.txt", "open"));
    Hold(Data() + "vxsky_readme.txt", 0);
    int r = -5;
    Answering({Expect{"Almost done...", kRestart9x, MB_YESNO | MB_ICONQUESTION, IDNO}},
              [&] { r = InstallAllFiles(); });
    DeleteFileA(IniPath().c_str());
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(ts::FileExists(NotepadLog()));
    EXPECT_EQ(Contents(Data() + "vxmain.vdf"), Payload("vxmain.vdf"));
}

TEST_F(InstallRun, LongFolderFailsEachEntryWithOneMessage)
{
    // a base folder of 230 characters: too long for the expand-copy, so
    // each entry is refused once and nothing is started
    std::string folder = FolderOfLength(dir_, 230);
    ts::MakeDirs(folder + "tvdata\\");
    strcpy(g_gameFolder, folder.c_str());
    int r = -5;
    Expect tooLong{"Error", "", MB_ICONHAND, IDOK};
    Answering({tooLong, tooLong, Expect{"Error", kFailedText, MB_ICONHAND, IDOK}}, [&] { r = InstallAllFiles(); });
    EXPECT_EQ(r, 1);
    EXPECT_FALSE(ts::FileExists(NotepadLog()));
}
