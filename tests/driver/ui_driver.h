// Drives the setup program's windows from tests, in the same process (from a
// helper thread) or in another process: finds dialogs, reads their texts,
// tells the kind of a message box, presses buttons and answers a scripted
// series of boxes.
//
// Everything here works on top-level windows of the dialog class "#32770"
// (dialogs and message boxes). Texts are ANSI strings (the code page of the
// test process), compared exactly as WM_GETTEXT returns them, so a "\n" in a
// message box text stays a "\n".
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace uidrv {

// ------------------------------------------------------------------ finding

// Waits up to timeoutMs for a visible top-level "#32770" window whose
// caption is exactly `caption`, of process `pid` (0: of any process).
// A timeout of 0 looks once (and prints nothing when it finds none).
// Returns NULL on timeout, after printing DescribeVisibleDialogs() to
// stderr.
HWND WaitForDialog(const char *caption, DWORD timeoutMs, DWORD pid = 0);

// Waits up to timeoutMs until `dlg` is destroyed or hidden.
bool WaitForDialogGone(HWND dlg, DWORD timeoutMs);

// Every visible top-level "#32770" window: handle, caption, process id,
// whether it is disabled, then one line per child control with its id,
// class and text (line feeds shown as \n).
std::string DescribeVisibleDialogs();

// The process that owns a window (0 if the window is gone).
DWORD ProcessOf(HWND hwnd);

// ------------------------------------------------------------------ texts

// The caption of a window (read without sending it a message, so a busy
// or blocked owner thread does not matter).
std::string Caption(HWND hwnd);

// The direct child of `dlg` with control id `id` (compared as 16 bits, so
// -1 and 0xFFFF are the same id); NULL if none.
HWND Control(HWND dlg, int id);

// The text of the child control `id` of `dlg`, through WM_GETTEXT (which
// Wine carries across processes); if the owner does not answer in time,
// the text the window manager keeps for it. Empty if there is no control.
std::string ControlText(HWND dlg, int id);
std::string WindowText(HWND hwnd);

// Control id of the text of a message box, and of its icon under Wine.
const int kMessageBoxTextId = 0xFFFF;
const int kMessageBoxIconId = 0x0440;

// The text of a message box.
std::string MessageBoxText(HWND box);

// ------------------------------------------------------------------ message box kind

// Icon bits of MessageBoxStyle() when the box shows an icon that is none
// of the four standard ones (or that could not be read from the screen).
const UINT kUnknownIcon = 0xF0;
// Button bits of MessageBoxStyle() for a set of buttons that is none of
// the MB_ types.
const UINT kUnknownButtons = 0x0F;

// Rebuilds the MB_ style a message box was made with, from what it shows:
// the buttons (MB_OK, MB_OKCANCEL, MB_YESNO, MB_YESNOCANCEL, MB_RETRYCANCEL,
// MB_ABORTRETRYIGNORE, MB_CANCELTRYCONTINUE, plus MB_HELP) OR-ed with the
// icon (MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK,
// 0 for none, kUnknownIcon otherwise). Works for boxes of other processes.
// The default-button, modality and other bits are not part of the result.
UINT MessageBoxStyle(HWND box);

// Only the icon part of MessageBoxStyle(). Waits up to waitMs for the icon
// to be painted before giving kUnknownIcon.
UINT MessageBoxIcon(HWND box, DWORD waitMs = 1500);

// Id of the default push button of a dialog (BS_DEFPUSHBUTTON), 0 if none.
int DefaultButton(HWND dlg);

// ------------------------------------------------------------------ input

// Posts to `dlg` what a click on its button `id` sends to the dialog
// procedure: WM_COMMAND with BN_CLICKED and the button's window.
void PressButton(HWND dlg, int id);

// Posts WM_SYSCOMMAND SC_CLOSE, as the close box of the caption does.
// DefDlgProc turns it into WM_CLOSE and that into WM_COMMAND IDCANCEL
// (Wine does so for every message box too, even one without a Cancel
// button, which then returns IDCANCEL). A disabled window ignores it.
void CloseWithCaptionBox(HWND dlg);

// ------------------------------------------------------------------ processes

struct Proc {
    HANDLE process;   // NULL when the start failed
    DWORD pid;
};

// Starts exePath with the working folder workDir (NULL: the caller's) and
// the extra command line arguments args (NULL: none). The program's own
// path is put first, quoted.
Proc Launch(const char *exePath, const char *workDir, const char *args = nullptr);

// Waits up to timeoutMs for the process to end; its exit code goes to
// *exitCode when given.
bool WaitExit(const Proc &p, DWORD timeoutMs, DWORD *exitCode = nullptr);

// Ends the process if it still runs and waits for it to be gone.
void Kill(const Proc &p);

// Closes the process handle (the process itself goes on).
void Release(Proc &p);

// ------------------------------------------------------------------ scripted answers

// Press value of an Expect that closes the box with the caption's close
// box instead of pressing a button.
const int kCloseBox = -2;

struct Expect {
    std::string caption;   // exact caption, or "*" for any new dialog
    std::string text;      // exact message box text, or empty: not checked
    int style = -1;        // MessageBoxStyle() value, or -1: not checked
    int press = IDOK;      // button id to press, or kCloseBox
    int textId = kMessageBoxTextId;   // control whose text is checked
};

// Answers a script of dialogs on a thread of its own, one step after the
// other. For each step it waits for an enabled visible "#32770" window that
// was not already showing when Start() was called, with the step's caption
// (for "*": any caption), checks its text and style, presses the button even
// when a check failed (so the code under test can go on), and waits for the
// window to close, or to be disabled by a dialog it opened, before the
// next step.
//
// When a step fails to appear in time, the rest of the script is dropped
// and the thread dismisses (with IDCANCEL) every new dialog until Finish(),
// so that a caller blocked in an unexpected box comes back.
class Answerer {
public:
    explicit Answerer(std::vector<Expect> script, DWORD pid = 0, DWORD perStepTimeoutMs = 10000);
    ~Answerer();   // stops the thread and joins it

    Answerer(const Answerer &) = delete;
    Answerer &operator=(const Answerer &) = delete;

    // Also dismiss (and count as a failure) any new dialog that shows up
    // after the last step. Call before Start().
    void DismissExtras(bool on = true) { dismissExtras_ = on; }

    void Start();

    // Waits up to timeoutMs for every step to be done, then stops the
    // thread. True when every step was seen and matched.
    bool Finish(DWORD timeoutMs);

    // One line per dialog the thread handled: "caption | text | style"
    // (line feeds of the text shown as \n, style in decimal).
    std::vector<std::string> Log() const;

    // What went wrong, with the dialogs showing at that moment; empty if
    // nothing did.
    std::string Failure() const;

    // Steps done so far.
    size_t StepsDone() const { return done_; }

private:
    void Run();
    void Fail(const std::string &what);
    void Note(HWND dlg, const std::string &text, UINT style);
    bool Nap(DWORD ms);   // false once the script is ended
    HWND FindStep(const Expect &step);
    void DismissNew();

    std::vector<Expect> script_;
    DWORD pid_;
    DWORD stepTimeout_;
    bool dismissExtras_ = false;
    std::set<HWND> before_;        // dialogs showing at Start()
    std::set<HWND> answered_;
    std::map<HWND, DWORD> dismissed_;   // and when they were last told to close

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::atomic<size_t> done_{0};
    bool finished_ = false;        // the steps are over (guarded by mu_)
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> log_;
    std::string failure_;
};

// Watches for ms milliseconds for a visible "#32770" window (of process
// pid, 0: any) that was not showing when the call began. False when one
// appears, after printing DescribeVisibleDialogs() to stderr and, when
// `what` is given, storing it there.
bool NoDialogAppears(DWORD ms, DWORD pid = 0, std::string *what = nullptr);

}  // namespace uidrv
