// Checks of the UI driver against message boxes and dialogs of this process
// and of a second copy of it. Own main(): started as
//   driver_selftest --show-box [STYLE...]
// it shows one message box per style (48 when none is given) and exits with
// 7 when every box was answered with OK, else with 100 + the last answer.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui_driver.h"

namespace {

const char kChildCaption[] = "Driver Child Box";
const char kChildText[] = "Shown by\nthe child.";

int ShowBoxes(int count, char **styles)
{
    std::vector<UINT> list;
    for (int i = 0; i < count; i++)
        list.push_back((UINT)strtoul(styles[i], NULL, 0));
    if (list.empty())
        list.push_back(MB_ICONEXCLAMATION);
    bool allOk = true;
    int last = 0;
    for (UINT style : list) {
        last = MessageBoxA(NULL, kChildText, kChildCaption, style);
        allOk = allOk && last == IDOK;
    }
    return allOk ? 7 : 100 + last;
}

std::string SelfPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof(path));
    return path;
}

// Runs this thread's messages until done() or ms have passed.
bool Pump(HWND dlg, DWORD ms, const std::function<bool()> &done)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= ms)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            if (!dlg || !IsDialogMessageA(dlg, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        Sleep(10);
    }
    return true;
}

// ------------------------------------------------------------ in-memory dialog

void Put(std::vector<WORD> *t, const char *s)
{
    do
        t->push_back((WORD)(unsigned char)*s);
    while (*s++);
}

void AlignDword(std::vector<WORD> *t)
{
    if (t->size() % 2)
        t->push_back(0);
}

void PutDword(std::vector<WORD> *t, DWORD v)
{
    t->push_back(LOWORD(v));
    t->push_back(HIWORD(v));
}

void PutItem(std::vector<WORD> *t, DWORD style, short x, short y, short cx, short cy, WORD id,
             WORD cls, const char *text)
{
    AlignDword(t);
    PutDword(t, style | WS_CHILD | WS_VISIBLE);
    PutDword(t, 0);
    for (short v : {x, y, cx, cy})
        t->push_back((WORD)v);
    t->push_back(id);
    t->push_back(0xFFFF);
    t->push_back(cls);
    Put(t, text);
    t->push_back(0);   // no creation data
}

// "Driver Dialog": buttons Alpha (101), Beta (102), Cancel (IDCANCEL) and a
// static text (103).
std::vector<WORD> DialogTemplate(bool visible)
{
    std::vector<WORD> t;
    PutDword(&t, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | (visible ? WS_VISIBLE : 0));
    PutDword(&t, 0);
    t.push_back(4);
    for (short v : {10, 10, 200, 80})
        t.push_back((WORD)v);
    t.push_back(0);   // no menu
    t.push_back(0);   // dialog class
    Put(&t, "Driver Dialog");
    PutItem(&t, BS_PUSHBUTTON | WS_TABSTOP, 10, 50, 50, 14, 101, 0x0080, "Alpha");
    PutItem(&t, BS_PUSHBUTTON | WS_TABSTOP, 70, 50, 50, 14, 102, 0x0080, "Beta");
    PutItem(&t, BS_PUSHBUTTON | WS_TABSTOP, 130, 50, 50, 14, IDCANCEL, 0x0080, "Cancel");
    PutItem(&t, SS_LEFT, 10, 10, 180, 30, 103, 0x0082, "Two\nlines");
    return t;
}

struct Command {
    int id, code;
    HWND from;
};
std::vector<Command> g_commands;

INT_PTR CALLBACK RecordingProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG)
        return TRUE;
    if (msg == WM_COMMAND) {
        g_commands.push_back({LOWORD(wp), HIWORD(wp), (HWND)lp});
        if (GetWindowLongPtrA(dlg, DWLP_USER))   // modal: end with the id
            EndDialog(dlg, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK ModalProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG)
        SetWindowLongPtrA(dlg, DWLP_USER, 1);
    return RecordingProc(dlg, msg, wp, lp);
}

}  // namespace

// ------------------------------------------------------------ message boxes

TEST(MessageBoxes, StylesAndTextsOfThisProcessAreReadAndAnswered)
{
    struct Box { const char *caption, *text; UINT style; int press; };
    const Box boxes[] = {
        {"Driver Stop", "Something broke.\nSecond line.", MB_ICONHAND, IDOK},
        {"Driver Question", "Go on?", MB_YESNO | MB_ICONQUESTION, IDNO},
        {"Driver Warning", "Careful:\n\n\tindented", MB_ICONEXCLAMATION, IDOK},
        {"Driver Note", "Just so you know.", MB_ICONASTERISK, IDOK},
        {"Driver Plain", "No icon here.", MB_OK, IDOK},
        {"Driver Plain", "Three buttons", MB_YESNOCANCEL | MB_ICONQUESTION, IDCANCEL},
        {"Driver Retry", "Again?", MB_RETRYCANCEL | MB_ICONHAND, IDRETRY},
        {"Driver Abort", "Which?", MB_ABORTRETRYIGNORE | MB_ICONEXCLAMATION, IDIGNORE},
        {"Driver Note", "OK or not", MB_OKCANCEL | MB_ICONASTERISK, IDCANCEL},
    };
    std::vector<uidrv::Expect> script;
    for (const Box &b : boxes)
        script.push_back({b.caption, b.text, (int)b.style, b.press});
    uidrv::Answerer answerer(script, GetCurrentProcessId());
    answerer.Start();
    for (const Box &b : boxes)
        EXPECT_EQ(MessageBoxA(NULL, b.text, b.caption, b.style), b.press) << b.caption;
    ASSERT_TRUE(answerer.Finish(5000)) << answerer.Failure();
    std::vector<std::string> log = answerer.Log();
    ASSERT_EQ(log.size(), sizeof(boxes) / sizeof(boxes[0]));
    EXPECT_EQ(log[0], "Driver Stop | Something broke.\\nSecond line. | 16");
    EXPECT_EQ(log[4], "Driver Plain | No icon here. | 0");
}

TEST(MessageBoxes, MismatchesAreReportedAndTheBoxIsStillAnswered)
{
    uidrv::Answerer answerer({{"Driver Check", "Other text", MB_ICONHAND, IDOK},
                              {"Never Shown", "", -1, IDOK}},
                             GetCurrentProcessId(), 500);
    answerer.Start();
    EXPECT_EQ(MessageBoxA(NULL, "Real text", "Driver Check", MB_ICONASTERISK), IDOK);
    EXPECT_FALSE(answerer.Finish(5000));
    std::string failure = answerer.Failure();
    EXPECT_NE(failure.find("step 1 (\"Driver Check\"): text \"Real text\""), std::string::npos) << failure;
    EXPECT_NE(failure.find("style 64"), std::string::npos) << failure;
    EXPECT_NE(failure.find("step 2 (\"Never Shown\")"), std::string::npos) << failure;
    EXPECT_EQ(answerer.StepsDone(), 1u);
}

TEST(MessageBoxes, AnIconOtherThanTheStandardOnesIsUnknown)
{
    uidrv::Answerer answerer({{"Driver Own Icon", "", MB_OK | (int)uidrv::kUnknownIcon, IDOK}});
    answerer.Start();
    MSGBOXPARAMSA p = {};
    p.cbSize = sizeof(p);
    p.lpszText = "An application icon.";
    p.lpszCaption = "Driver Own Icon";
    p.dwStyle = MB_OK | MB_USERICON;
    p.lpszIcon = IDI_APPLICATION;
    EXPECT_EQ(MessageBoxIndirectA(&p), IDOK);
    EXPECT_TRUE(answerer.Finish(5000)) << answerer.Failure();
}

TEST(MessageBoxes, AnUnforeseenBoxIsDismissedAndReported)
{
    uidrv::Answerer answerer({}, GetCurrentProcessId());
    answerer.DismissExtras();
    answerer.Start();
    EXPECT_EQ(MessageBoxA(NULL, "Surprise", "Driver Extra", MB_OK), IDCANCEL);
    EXPECT_FALSE(answerer.Finish(1000));
    EXPECT_NE(answerer.Failure().find("unexpected dialog \"Driver Extra\""), std::string::npos);
}

TEST(MessageBoxes, NoDialogAppearsNoticesANewBox)
{
    EXPECT_TRUE(uidrv::NoDialogAppears(300, GetCurrentProcessId()));
    std::thread shower([] { MessageBoxA(NULL, "Late", "Driver Late", MB_OK); });
    std::string what;
    EXPECT_FALSE(uidrv::NoDialogAppears(10000, GetCurrentProcessId(), &what));
    EXPECT_NE(what.find("Driver Late"), std::string::npos) << what;
    HWND box = uidrv::WaitForDialog("Driver Late", 5000, GetCurrentProcessId());
    ASSERT_NE(box, nullptr);
    uidrv::PressButton(box, IDOK);
    shower.join();
}

// ------------------------------------------------------------ dialogs

TEST(Dialogs, PressButtonAndCaptionCloseReachTheDialogProcedure)
{
    g_commands.clear();
    std::vector<WORD> t = DialogTemplate(true);
    HWND made = CreateDialogIndirectParamA(GetModuleHandleA(NULL), (LPCDLGTEMPLATEA)t.data(), NULL,
                                           RecordingProc, 0);
    ASSERT_NE(made, nullptr);
    HWND dlg = uidrv::WaitForDialog("Driver Dialog", 5000, GetCurrentProcessId());
    ASSERT_EQ(dlg, made);
    EXPECT_EQ(uidrv::ControlText(dlg, 103), "Two\nlines");
    EXPECT_EQ(uidrv::ControlText(dlg, 104), "");
    std::string all = uidrv::DescribeVisibleDialogs();
    EXPECT_NE(all.find("\"Driver Dialog\" pid " + std::to_string(GetCurrentProcessId())), std::string::npos) << all;
    EXPECT_NE(all.find("id 102 Button \"Beta\""), std::string::npos) << all;

    uidrv::PressButton(dlg, 102);
    ASSERT_TRUE(Pump(dlg, 2000, [] { return !g_commands.empty(); }));
    EXPECT_EQ(g_commands[0].id, 102);
    EXPECT_EQ(g_commands[0].code, BN_CLICKED);
    EXPECT_EQ(g_commands[0].from, GetDlgItem(dlg, 102));

    uidrv::CloseWithCaptionBox(dlg);
    ASSERT_TRUE(Pump(dlg, 2000, [] { return g_commands.size() > 1; }));
    EXPECT_EQ(g_commands[1].id, IDCANCEL);
    EXPECT_EQ(g_commands[1].from, GetDlgItem(dlg, IDCANCEL));

    // as under a modal box: a disabled dialog ignores the close box
    EnableWindow(dlg, FALSE);
    uidrv::CloseWithCaptionBox(dlg);
    Pump(dlg, 300, [] { return false; });
    EXPECT_EQ(g_commands.size(), 2u);

    DestroyWindow(dlg);
    EXPECT_TRUE(uidrv::WaitForDialogGone(dlg, 1000));
    EXPECT_EQ(uidrv::WaitForDialog("Driver Dialog", 0), nullptr);
}

TEST(Dialogs, ModalDialogIsAnsweredByTheScript)
{
    g_commands.clear();
    uidrv::Answerer answerer({{"*", "", -1, 101}}, GetCurrentProcessId());
    answerer.Start();
    std::vector<WORD> t = DialogTemplate(false);
    EXPECT_EQ(DialogBoxIndirectParamA(GetModuleHandleA(NULL), (LPCDLGTEMPLATEA)t.data(), NULL,
                                      ModalProc, 0),
              101);
    EXPECT_TRUE(answerer.Finish(5000)) << answerer.Failure();
    ASSERT_EQ(answerer.Log().size(), 1u);
    EXPECT_EQ(answerer.Log()[0].substr(0, 16), "Driver Dialog | ");
}

// ------------------------------------------------------------ another process

TEST(OtherProcess, BoxIsFoundReadAndAnswered)
{
    uidrv::Proc p = uidrv::Launch(SelfPath().c_str(), NULL, "--show-box");
    ASSERT_NE(p.process, nullptr);
    HWND box = uidrv::WaitForDialog(kChildCaption, 20000, p.pid);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(uidrv::ProcessOf(box), p.pid);
    EXPECT_EQ(uidrv::WaitForDialog(kChildCaption, 0, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(uidrv::Caption(box), kChildCaption);
    EXPECT_EQ(uidrv::MessageBoxText(box), kChildText);
    EXPECT_EQ(uidrv::MessageBoxStyle(box), (UINT)MB_ICONEXCLAMATION);
    EXPECT_EQ(uidrv::DefaultButton(box), IDOK);
    uidrv::PressButton(box, IDOK);
    DWORD code = 0;
    EXPECT_TRUE(uidrv::WaitExit(p, 20000, &code));
    EXPECT_EQ(code, 7u);
    uidrv::Kill(p);
    uidrv::Release(p);
}

TEST(OtherProcess, ScriptAnswersBoxesAndCloseBoxGivesCancel)
{
    uidrv::Proc p = uidrv::Launch(SelfPath().c_str(), NULL, "--show-box 64 36 16");
    ASSERT_NE(p.process, nullptr);
    uidrv::Answerer answerer({{kChildCaption, kChildText, MB_ICONASTERISK, IDOK},
                              {kChildCaption, kChildText, MB_YESNO | MB_ICONQUESTION, IDYES},
                              {kChildCaption, kChildText, MB_ICONHAND, uidrv::kCloseBox}},
                             p.pid, 20000);
    answerer.Start();
    EXPECT_TRUE(answerer.Finish(60000)) << answerer.Failure();
    DWORD code = 0;
    EXPECT_TRUE(uidrv::WaitExit(p, 20000, &code));
    EXPECT_EQ(code, 100u + IDCANCEL);
    uidrv::Kill(p);
    uidrv::Release(p);
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--show-box") == 0)
        return ShowBoxes(argc - 2, argv + 2);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
