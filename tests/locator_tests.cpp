// The drive search worker with the search dialog up, for real: the test bed's
// drives (A: floppy, C: D: F: fixed, E: CD-ROM, G: network) hold the trees.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "locator/locator.h"
#include "setup/setup.h"
#include "setup/state.h"
#include "resources/resource.h"
#include "test_support.h"
#include "ui_driver.h"

using uidrv::Expect;

namespace {

const char kCaption[] = "Vexmoor Skyrift Setup";

std::string Question(const std::string &folder)
{
    return "Setup found an application named 'Torvane' in:\n\n" + folder + "\n\nIs this the Torvane folder?";
}

const char kNotFound[] =
    "The Torvane folder could not be found.  You need to find it yourself.  If Torvane is not "
    "installed, you need to install it and then restart Setup";

void PutGame(const std::string &folder)
{
    ASSERT_TRUE(ts::MakeDirs(folder));
    ASSERT_TRUE(ts::WriteBytes(folder + "torvane.exe", "MZ"));
}

// What the worker's message boxes met when they were made: a box created
// while the stop flag was already set would be a question after the stop.
std::mutex g_boxMutex;
std::vector<std::pair<HWND, LONG>> g_boxStops;       // box, stop flag at creation
LONG g_questionsAfterStop;

LRESULT CALLBACK RecordBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        CBT_CREATEWNDA *c = (CBT_CREATEWNDA *)lParam;
        if (c->lpcs->lpszClass == MAKEINTATOM(32770)) {
            std::lock_guard<std::mutex> lock(g_boxMutex);
            g_boxStops.emplace_back((HWND)wParam, GetFlag(&g_stopSearch));
        }
    } else if (code == HCBT_ACTIVATE) {
        char caption[64] = "";
        GetWindowTextA((HWND)wParam, caption, sizeof(caption));
        std::lock_guard<std::mutex> lock(g_boxMutex);
        for (auto &b : g_boxStops)
            if (b.first == (HWND)wParam && b.second && !strcmp(caption, kCaption))
                g_questionsAfterStop++;
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

struct PhaseResult {
    HWND dialog;
    DWORD msFromStopToDone;
};

// The search phase as the flow controller runs it: the search dialog, the
// worker, a message loop until the dialog ends the phase. onStart runs once
// the dialog is up, before the worker starts.
template <typename F>
void RunSearchPhase(F onStart)
{
    SetFlag(&g_stopSearch, 0);
    SetFlag(&g_folderFound, 0);
    g_searchDone = 0;
    {
        std::lock_guard<std::mutex> lock(g_boxMutex);
        g_boxStops.clear();
        g_questionsAfterStop = 0;
    }
    HWND dlg = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL, SearchDlgProc, 0);
    ASSERT_NE(dlg, nullptr);
    SetCurrentDialog(dlg);
    onStart(dlg);
    DWORD tid;
    g_hSearchThread = CreateThread(NULL, 0, SearchForGameFolder, NULL, CREATE_SUSPENDED, &tid);
    ASSERT_NE(g_hSearchThread, nullptr);
    HHOOK hook = SetWindowsHookExA(WH_CBT, RecordBoxes, NULL, tid);
    ResumeThread(g_hSearchThread);

    MSG msg;
    while (!g_searchDone && GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DestroyWindow(dlg);
    // every ending handler has waited for the worker already
    EXPECT_EQ(WaitForSingleObject(g_hSearchThread, 0), WAIT_OBJECT_0);
    StopSearchWorker();
    WaitForSearchWorker();
    UnhookWindowsHookEx(hook);
    CloseHandle(g_hSearchThread);
    g_hSearchThread = NULL;
}

class SearchTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        InitCommonControls();
        CoInitialize(NULL);
        g_gameFolder[0] = '\0';
        for (char d : {'A', 'D', 'E', 'F'})
            ts::ClearDrive(d);
        DeleteFileA("C:\\torvane.exe");
    }
    void TearDown() override
    {
        for (char d : {'A', 'D', 'E', 'F'})
            ts::ClearDrive(d);
        DeleteFileA("C:\\torvane.exe");
    }
    // Answers the worker's boxes on a driver thread while the phase runs.
    void Search(std::vector<Expect> script)
    {
        uidrv::Answerer answerer(std::move(script), GetCurrentProcessId());
        // started once the search dialog is up, so that it is not taken
        // for one of the worker's boxes (they share the caption)
        RunSearchPhase([&](HWND) { answerer.Start(); });
        EXPECT_TRUE(answerer.Finish(20000)) << answerer.Failure();
    }
};

}  // namespace

// ------------------------------------------------------------ the walk

using DriveSearch = SearchTest;

TEST_F(DriveSearch, PreOrderAndADeclinedFolderIsStillDescendedInto)
{
    PutGame("D:\\Games\\Torvane\\");
    PutGame("D:\\Games\\Torvane\\Backup\\");
    Search({Expect{kCaption, Question("D:\\Games\\Torvane\\"), MB_YESNO | MB_ICONQUESTION, IDNO},
            Expect{kCaption, Question("D:\\Games\\Torvane\\Backup\\"), MB_YESNO | MB_ICONQUESTION, IDYES}});
    EXPECT_EQ(GetFlag(&g_folderFound), 1);
    EXPECT_STREQ(g_gameFolder, "D:\\Games\\Torvane\\Backup\\");
}

TEST_F(DriveSearch, DriveRootIsAGameFolderAndDrivesGoInLetterOrder)
{
    ASSERT_TRUE(ts::WriteBytes("C:\\torvane.exe", "MZ"));
    PutGame("D:\\Torvane\\");
    PutGame("F:\\");
    Search({Expect{kCaption, Question("C:\\"), MB_YESNO | MB_ICONQUESTION, IDNO},
            Expect{kCaption, Question("D:\\Torvane\\"), MB_YESNO | MB_ICONQUESTION, IDNO},
            Expect{kCaption, Question("F:\\"), MB_YESNO | MB_ICONQUESTION, IDYES}});
    EXPECT_STREQ(g_gameFolder, "F:\\");

    Search({Expect{kCaption, Question("C:\\"), MB_YESNO | MB_ICONQUESTION, IDYES}});
    EXPECT_STREQ(g_gameFolder, "C:\\");
    EXPECT_EQ(GetFlag(&g_folderFound), 1);
}

TEST_F(DriveSearch, OnlyFixedDrivesAreSearchedThenNotFoundPressesBrowse)
{
    // floppy, CD-ROM and network drives hold the game but are skipped by type
    PutGame("A:\\");
    PutGame("E:\\Torvane\\");
    PutGame("G:\\locator_tests_game\\");
    std::vector<std::string> seen;
    Search({Expect{"Browse", kNotFound, MB_ICONINFORMATION, IDOK},
            // the posted Browse reaches the dialog: the picker opens
            Expect{"Browse for Folder", "", -1, IDCANCEL}});
    EXPECT_EQ(GetFlag(&g_folderFound), 0);
    ts::RemoveTree("G:\\locator_tests_game\\");
}

TEST_F(DriveSearch, TimerWithoutAcceptedFolderIsIgnored)
{
    PutGame("F:\\Torvane\\");
    uidrv::Answerer answerer({Expect{kCaption, Question("F:\\Torvane\\"), MB_YESNO | MB_ICONQUESTION, IDYES}},
                             GetCurrentProcessId());
    RunSearchPhase([&](HWND dlg) {
        answerer.Start();
        // a stray notification before anything was accepted
        PostMessageA(dlg, WM_TIMER, 0, 0);
        PostMessageA(dlg, WM_TIMER, 0, 0);
    });
    EXPECT_TRUE(answerer.Finish(20000)) << answerer.Failure();
    EXPECT_STREQ(g_gameFolder, "F:\\Torvane\\");
}

TEST_F(DriveSearch, OverlongDirectoriesDoNotStopTheWalk)
{
    // a chain of directories far longer than a path buffer, made through the
    // long-path form, sorted before the real game folder
    std::wstring deep = L"\\\\?\\D:\\a";
    CreateDirectoryW(deep.c_str(), NULL);
    for (int i = 0; i < 12; i++) {
        deep += L"\\" + std::wstring(60, L'a' + (i % 26));
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), NULL)) << i;
    }
    HANDLE h = CreateFileW((deep + L"\\torvane.exe").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    // a game folder whose executable's path is past what the existence
    // test takes (127 characters): passed over, not cut short
    PutGame("D:\\b" + std::string(120, 'x') + "\\");
    PutGame("D:\\z\\Torvane\\");
    Search({Expect{kCaption, Question("D:\\z\\Torvane\\"), MB_YESNO | MB_ICONQUESTION, IDYES}});
    EXPECT_STREQ(g_gameFolder, "D:\\z\\Torvane\\");
}

// ------------------------------------------------------------ stopping

using SearchCancel = SearchTest;

namespace {

// A wide tree with the game's executable in every leaf, so the worker is
// asking or about to ask most of the time.
void WideTree(int width)
{
    for (int i = 0; i < width; i++)
        for (int j = 0; j < width; j++) {
            char dir[64];
            snprintf(dir, sizeof(dir), "D:\\w\\d%02d\\e%02d\\", i, j);
            ts::MakeDirs(dir);
            if ((i + j) % 3 == 0)
                ts::WriteBytes(std::string(dir) + "torvane.exe", "MZ");
        }
}

// Every dialog-class window of this process, visible or not.
std::set<HWND> AllBoxes()
{
    std::set<HWND> boxes;
    HWND box = NULL;
    while ((box = FindWindowExA(NULL, box, "#32770", NULL)) != NULL)
        if (uidrv::ProcessOf(box) == GetCurrentProcessId())
            boxes.insert(box);
    return boxes;
}

// A box of the search phase other than the search dialog itself.
HWND PhaseBox(HWND dlg)
{
    for (HWND box : AllBoxes())
        if (box != dlg && IsWindowVisible(box) && IsWindowEnabled(box))
            return box;
    return NULL;
}

}  // namespace

namespace {

// Rounds of the random-moment test: a few dozen in the test run, a thousand
// from tools/stress.sh.
int StressRounds()
{
    const char *s = getenv("SKYRIFT_STRESS_ROUNDS");
    int n = s ? atoi(s) : 0;
    return n > 0 ? n : 40;
}

ULONGLONG CreationTime(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return ((ULONGLONG)created.dwHighDateTime << 32) | created.dwLowDateTime;
}

}  // namespace

// The whole search phase of the flow controller, Cancel or Browse pressed at
// a random moment of the walk, as a user would: between two questions or
// just after declining one. Whatever the moment, the phase ends, the welcome
// window comes back, no question is put up once the stop flag is set, and
// the worker has ended and its handle is closed.
TEST_F(SearchCancel, CancelOrBrowseAtRandomMomentsEndsCleanly)
{
    WideTree(24);
    HWND welcome = CreateWindowExA(0, "STATIC", "welcome", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                                   g_hInstance, NULL);
    ASSERT_NE(welcome, nullptr);
    const int rounds = StressRounds();
    std::mt19937 rng(20261207);
    int pressedDuringWalk = 0, browsed = 0, questions = 0;
    std::vector<DWORD> stopToDone;

    for (int round = 0; round < rounds; round++) {
        const bool browse = rng() % 2;
        const DWORD delay = rng() % 500, jitter = rng() % 10;
        std::atomic<bool> phaseOver{false};
        std::atomic<DWORD> pressedAt{0};
        std::atomic<int> lateQuestions{0}, asked{0};
        std::atomic<bool> sawNotice{false};
        DWORD workerId = 0;
        ULONGLONG workerBorn = 0;
        SetCurrentDialog(NULL);
        ShowWindow(welcome, SW_HIDE);

        std::thread driver([&] {
            const DWORD start = GetTickCount();
            HWND dlg = NULL;
            bool stopSeen = false;
            std::set<HWND> atStop;
            auto press = [&] {
                pressedAt = GetTickCount();
                uidrv::PressButton(dlg, browse ? IDC_BROWSE : IDCANCEL);
            };
            while (!phaseOver) {
                if (GetTickCount() - start > 30000) {
                    fprintf(stderr, "round %d hangs (%s at %lu ms):\n%s", round,
                            browse ? "Browse" : "Cancel", (unsigned long)delay,
                            uidrv::DescribeVisibleDialogs().c_str());
                    fflush(stderr);
                    TerminateProcess(GetCurrentProcess(), 3);
                }
                if (dlg == NULL) {
                    dlg = GetCurrentDialog();
                    if (dlg == NULL) {
                        Sleep(1);
                        continue;
                    }
                }
                // the worker's handle is only closed once this thread has
                // pressed something, so it can be looked at until then
                if (!pressedAt && workerId == 0 && g_hSearchThread != NULL) {
                    workerId = GetThreadId(g_hSearchThread);
                    workerBorn = CreationTime(g_hSearchThread);
                }
                // A box that was not there once the flag was seen set was
                // made after the stop.
                if (!stopSeen && GetFlag(&g_stopSearch)) {
                    atStop = AllBoxes();
                    stopSeen = true;
                }
                HWND box = PhaseBox(dlg);
                // the moments are those of a walk: from the worker's start
                bool due = !pressedAt && workerId != 0 && GetTickCount() - start >= delay;
                if (box) {
                    std::string caption = uidrv::Caption(box);
                    bool question = caption == kCaption &&
                                    uidrv::MessageBoxText(box).rfind("Setup found", 0) == 0;
                    if (question) {
                        asked++;
                        if (stopSeen && !atStop.count(box))
                            lateQuestions++;
                        uidrv::PressButton(box, IDNO);
                    } else {
                        sawNotice = sawNotice || caption == kCaption;
                        // the not-found notice, then the picker: cancelled
                        uidrv::PressButton(box, caption == kCaption ? IDOK : IDCANCEL);
                    }
                    if (question && due) {
                        Sleep(jitter);
                        press();
                    }
                    uidrv::WaitForDialogGone(box, 5000);
                } else if (due && IsWindow(dlg) && IsWindowEnabled(dlg)) {
                    press();
                }
                Sleep(1);
            }
        });
        RunSetupPhases(welcome);
        const DWORD end = GetTickCount();
        phaseOver = true;
        driver.join();

        SCOPED_TRACE("round " + std::to_string(round) + (browse ? ": Browse" : ": Cancel") +
                     " at " + std::to_string(delay) + " ms");
        EXPECT_TRUE(IsWindowVisible(welcome));
        EXPECT_EQ(GetFlag(&g_folderFound), 0);
        EXPECT_EQ(lateQuestions, 0);
        EXPECT_EQ(g_hSearchThread, nullptr);
        ASSERT_NE(workerId, 0u) << "the worker was never seen";
        // a thread that has ended can be opened by its id only while some
        // handle to it is still open
        HANDLE again = OpenThread(THREAD_QUERY_INFORMATION, FALSE, workerId);
        if (again != NULL) {
            EXPECT_NE(CreationTime(again), workerBorn) << "the worker's handle was left open";
            CloseHandle(again);
        }
        questions += asked;
        if (pressedAt && !sawNotice) {
            pressedDuringWalk++;
            browsed += browse;
            if (!browse)
                stopToDone.push_back(end - pressedAt);
        }
    }
    DestroyWindow(welcome);

    std::sort(stopToDone.begin(), stopToDone.end());
    if (!stopToDone.empty())
        printf("%d rounds, %d pressed during the walk (%d Browse), %d questions declined; "
               "Cancel to the end of the phase: median %lu ms, worst %lu ms\n",
               rounds, pressedDuringWalk, browsed, questions,
               (unsigned long)stopToDone[stopToDone.size() / 2], (unsigned long)stopToDone.back());
    EXPECT_GT(questions, 0);
    EXPECT_GE(pressedDuringWalk, rounds * 3 / 4) << "too few presses landed during the walk";
    EXPECT_GT(browsed, 0);
    if (!stopToDone.empty()) {
        EXPECT_LT(stopToDone.back(), 5000u);
    }
}

TEST_F(SearchCancel, BrowseStopsTheWorkerBeforeThePickerOpens)
{
    WideTree(10);
    uidrv::Answerer answerer({Expect{"Browse for Folder", "", -1, IDCANCEL}}, GetCurrentProcessId());
    RunSearchPhase([&](HWND dlg) {
        answerer.Start();
        PostMessageA(dlg, WM_COMMAND, IDC_BROWSE, 0);
    });
    EXPECT_TRUE(answerer.Finish(20000)) << answerer.Failure();
    EXPECT_EQ(GetFlag(&g_folderFound), 0);
    EXPECT_EQ(g_questionsAfterStop, 0);
}

// ------------------------------------------------------------ picker

using FolderPicker = SearchTest;

TEST_F(FolderPicker, ChosenFolderGetsOneTrailingBackslash)
{
    ASSERT_TRUE(ts::MakeDirs("D:\\Games\\Torvane\\"));
    struct Case { std::vector<std::string> path; const char *want; };
    for (Case c : {Case{{"D:", "Games", "Torvane"}, "D:\\Games\\Torvane\\"}, Case{{"D:"}, "D:\\"}}) {
        strcpy(g_gameFolder, "unchanged");
        std::thread picker([&] {
            HWND dlg = uidrv::WaitForDialog("Browse for Folder", 20000, GetCurrentProcessId());
            ASSERT_NE(dlg, nullptr);
            EXPECT_TRUE(ts::SelectFolderInPicker(dlg, c.path)) << uidrv::DescribeVisibleDialogs();
            uidrv::PressButton(dlg, IDOK);
        });
        int r = BrowseForGameFolder();
        picker.join();
        EXPECT_EQ(r, 1);
        EXPECT_STREQ(g_gameFolder, c.want);
    }
}

TEST_F(FolderPicker, CancelledPickerLeavesTheFolderAlone)
{
    strcpy(g_gameFolder, "D:\\Before\\");
    uidrv::Answerer answerer({Expect{"Browse for Folder", "", -1, IDCANCEL}}, GetCurrentProcessId());
    answerer.Start();
    EXPECT_EQ(BrowseForGameFolder(), 0);
    EXPECT_TRUE(answerer.Finish(20000)) << answerer.Failure();
    EXPECT_STREQ(g_gameFolder, "D:\\Before\\");
}

// ------------------------------------------------------------ clip

namespace {

struct Chunk {
    std::string id;
    const unsigned char *data;
    uint32_t size;
};

uint32_t U32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// Chunks of a RIFF list body.
std::vector<Chunk> Chunks(const unsigned char *p, uint32_t size)
{
    std::vector<Chunk> out;
    for (uint32_t at = 0; at + 8 <= size;) {
        Chunk c{std::string((const char *)p + at, 4), p + at + 8, U32(p + at + 4)};
        if (at + 8 + c.size > size)
            break;
        out.push_back(c);
        at += 8 + c.size + (c.size & 1);
    }
    return out;
}

}  // namespace

TEST(SearchClip, IsAnRle8AviOf29FramesAt6FramesASecond)
{
    HMODULE self = GetModuleHandleA(NULL);
    HRSRC res = FindResourceA(self, MAKEINTRESOURCEA(IDR_SEARCH_CLIP), "AVI");
    ASSERT_NE(res, nullptr);
    const unsigned char *avi = (const unsigned char *)LockResource(LoadResource(self, res));
    uint32_t size = SizeofResource(self, res);
    ASSERT_GT(size, 12u);
    ASSERT_EQ(std::string((const char *)avi, 4), "RIFF");
    ASSERT_EQ(std::string((const char *)avi + 8, 4), "AVI ");
    auto top = Chunks(avi + 12, size - 12);
    ASSERT_FALSE(top.empty());
    ASSERT_EQ(top[0].id, "LIST");
    ASSERT_EQ(std::string((const char *)top[0].data, 4), "hdrl");
    auto hdrl = Chunks(top[0].data + 4, top[0].size - 4);
    ASSERT_GE(hdrl.size(), 2u);
    ASSERT_EQ(hdrl[0].id, "avih");
    const unsigned char *avih = hdrl[0].data;
    EXPECT_EQ(U32(avih + 0), 166666u);        // microseconds a frame
    EXPECT_EQ(U32(avih + 16), 29u);           // frames
    EXPECT_EQ(U32(avih + 24), 1u);            // streams
    EXPECT_EQ(U32(avih + 32), 80u);
    EXPECT_EQ(U32(avih + 36), 50u);
    int videoStreams = 0;
    for (const Chunk &c : hdrl) {
        if (c.id != "LIST")
            continue;
        auto strl = Chunks(c.data + 4, c.size - 4);
        ASSERT_GE(strl.size(), 2u);
        ASSERT_EQ(strl[0].id, "strh");
        EXPECT_EQ(std::string((const char *)strl[0].data, 4), "vids");
        videoStreams++;
        uint32_t scale = U32(strl[0].data + 20), rate = U32(strl[0].data + 24);
        EXPECT_EQ(U32(strl[0].data + 32), 29u);   // length
        EXPECT_NEAR((double)scale * 1e6 / rate, 166666.0, 1.0);
        ASSERT_EQ(strl[1].id, "strf");
        const BITMAPINFOHEADER *bih = (const BITMAPINFOHEADER *)strl[1].data;
        EXPECT_EQ(bih->biWidth, 80);
        EXPECT_EQ(bih->biHeight, 50);
        EXPECT_EQ(bih->biBitCount, 8);
        EXPECT_EQ(bih->biCompression, (DWORD)BI_RLE8);
        EXPECT_EQ(bih->biClrUsed, 16u);
    }
    EXPECT_EQ(videoStreams, 1);
    // 29 compressed frames in the movie list
    int frames = 0;
    for (const Chunk &c : top)
        if (c.id == "LIST" && std::string((const char *)c.data, 4) == "movi")
            for (const Chunk &f : Chunks(c.data + 4, c.size - 4))
                frames += f.id == "00dc";
    EXPECT_EQ(frames, 29);
}

TEST(SearchClip, PlaysInTheSearchDialog)
{
    g_hInstance = GetModuleHandleA(NULL);
    InitCommonControls();
    HWND dlg = CreateDialogParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SEARCH), NULL, SearchDlgProc, 0);
    ASSERT_NE(dlg, nullptr);
    HWND anim = GetDlgItem(dlg, IDC_ANIMATE);
    ASSERT_NE(anim, nullptr);
    char cls[32];
    GetClassNameA(anim, cls, sizeof(cls));
    EXPECT_STREQ(cls, "SysAnimate32");
    // the picture changes while the message loop runs: the clip plays
    std::vector<uint32_t> seen;
    for (int i = 0; i < 12; i++) {
        DWORD until = GetTickCount() + 170;
        MSG msg;
        while (GetTickCount() < until) {
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(5);
        }
        seen.push_back(ts::WindowPixelHash(anim));
    }
    DestroyWindow(dlg);
    std::sort(seen.begin(), seen.end());
    size_t distinct = std::unique(seen.begin(), seen.end()) - seen.begin();
    EXPECT_GE(distinct, 4u) << "the animation did not change";
}
