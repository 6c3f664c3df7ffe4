// UI driver for the tests; see ui_driver.h.
#include "ui_driver.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>


namespace uidrv {

namespace {

const char kDialogClass[] = "#32770";
const DWORD kPollMs = 20;
const UINT kSendTimeoutMs = 2000;

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

std::string Narrow(const wchar_t *w, int len)
{
    if (len <= 0)
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, w, len, NULL, 0, NULL, NULL);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, w, len, &s[0], n, NULL, NULL);
    return s;
}

// The title the window manager keeps for a window; no message is sent.
std::string StoredText(HWND hwnd)
{
    std::wstring buf(256, L'\0');
    for (;;) {
        int n = InternalGetWindowText(hwnd, &buf[0], (int)buf.size());
        if (n < (int)buf.size() - 1 || buf.size() >= 65536)
            return Narrow(buf.c_str(), n);
        buf.resize(buf.size() * 4);
    }
}

// WM_GETTEXT with a time limit; false if the owner did not answer.
bool AskedText(HWND hwnd, UINT timeoutMs, std::string *out)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &len))
        return false;
    std::wstring buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), (LPARAM)&buf[0], SMTO_ABORTIFHUNG,
                             timeoutMs, &got))
        return false;
    if (got > len + 1)
        got = len + 1;
    *out = Narrow(buf.c_str(), (int)wcsnlen(buf.c_str(), got));
    return true;
}

std::string ClassOf(HWND hwnd)
{
    char cls[128] = "";
    GetClassNameA(hwnd, cls, sizeof(cls));
    return cls;
}

bool IsDialogWindow(HWND hwnd) { return ClassOf(hwnd) == kDialogClass; }

struct TopList {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lp)
{
    TopList *list = (TopList *)lp;
    if (!IsWindowVisible(hwnd) || !IsDialogWindow(hwnd))
        return TRUE;
    if (list->pid && ProcessOf(hwnd) != list->pid)
        return TRUE;
    list->found.push_back(hwnd);
    return TRUE;
}

// Visible top-level dialogs, topmost first.
std::vector<HWND> VisibleDialogs(DWORD pid)
{
    TopList list{pid, {}};
    EnumWindows(CollectDialog, (LPARAM)&list);
    return list.found;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp)
{
    ((std::vector<HWND> *)lp)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Descendants(HWND dlg)
{
    std::vector<HWND> kids;
    EnumChildWindows(dlg, CollectChild, (LPARAM)&kids);
    return kids;
}

std::string Escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string Format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    return buf;
}

bool HasStyle(HWND hwnd, LONG bits) { return (GetWindowLongA(hwnd, GWL_STYLE) & bits) == bits; }

bool IsIconStatic(HWND hwnd)
{
    return _stricmp(ClassOf(hwnd).c_str(), "Static") == 0 &&
           (GetWindowLongA(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// ---------------------------------------------------------------- icon pixels

// A 32 bits per pixel, top-down bitmap selected into a memory DC.
class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(NULL);
        bmp_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, (void **)&bits_, NULL, 0);
        if (bmp_)
            old_ = SelectObject(dc_, bmp_);
    }
    ~Canvas()
    {
        if (old_)
            SelectObject(dc_, old_);
        if (bmp_)
            DeleteObject(bmp_);
        if (dc_)
            DeleteDC(dc_);
    }
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    bool ok() const { return dc_ && bmp_ && bits_; }
    HDC dc() const { return dc_; }
    DWORD at(int x, int y) const { return bits_[y * w_ + x] & 0xFFFFFF; }
    void fill(DWORD px)
    {
        GdiFlush();
        for (int i = 0; i < w_ * h_; i++)
            bits_[i] = px;
    }
    // Sum over all pixels of the absolute differences of the three colour
    // channels.
    long long diff(const Canvas &o) const
    {
        GdiFlush();
        long long sum = 0;
        for (int i = 0; i < w_ * h_; i++) {
            DWORD a = bits_[i], b = o.bits_[i];
            for (int shift = 0; shift < 24; shift += 8)
                sum += abs((int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF));
        }
        return sum;
    }

private:
    int w_, h_;
    HDC dc_ = NULL;
    HBITMAP bmp_ = NULL;
    HGDIOBJ old_ = NULL;
    DWORD *bits_ = nullptr;
};

bool CaptureScreen(const RECT &r, Canvas *into)
{
    HDC screen = GetDC(NULL);
    if (!screen)
        return false;
    BOOL ok = BitBlt(into->dc(), 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top,
                     SRCCOPY);
    ReleaseDC(NULL, screen);
    GdiFlush();
    return ok != FALSE;
}

// Whether the whole of r shows the window: no other top-level window (of
// this test or of one running beside it) lies over any part of it. When one
// does, the window is raised, without activation, for the next look.
bool Uncovered(HWND ctl, const RECT &r)
{
    HWND root = GetAncestor(ctl, GA_ROOT);
    const POINT points[] = {{r.left, r.top}, {r.right - 1, r.top}, {r.left, r.bottom - 1},
                            {r.right - 1, r.bottom - 1}, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
    for (POINT pt : points) {
        HWND at = WindowFromPoint(pt);
        if (!at || GetAncestor(at, GA_ROOT) != root) {
            SetWindowPos(root, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            return false;
        }
    }
    return true;
}

struct Candidate {
    UINT flag;
    LPCSTR id;
};
const Candidate kIcons[] = {
    {MB_ICONHAND, IDI_HAND},
    {MB_ICONQUESTION, IDI_QUESTION},
    {MB_ICONEXCLAMATION, IDI_EXCLAMATION},
    {MB_ICONASTERISK, IDI_ASTERISK},
};

// Compares what the screen shows of the icon control with each standard
// icon drawn by this process on the same background. Gives the icon flag
// when one matches (next to) exactly, 0 when the screen does not show one.
UINT MatchIcon(HWND ctl, bool *decided)
{
    *decided = false;
    RECT r;
    if (!GetWindowRect(ctl, &r))
        return 0;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256)
        return 0;
    if (!Uncovered(ctl, r))
        return 0;
    Canvas shot(w, h), drawn(w, h);
    if (!shot.ok() || !drawn.ok() || !CaptureScreen(r, &shot))
        return 0;
    DWORD background = shot.at(0, 0);
    bool centered = HasStyle(ctl, SS_CENTERIMAGE);

    long long best = -1, second = -1;
    UINT bestFlag = 0;
    for (const Candidate &c : kIcons) {
        HICON icon = LoadIconA(NULL, c.id);
        if (!icon)
            continue;
        int x = 0, y = 0;
        if (centered) {
            x = (w - GetSystemMetrics(SM_CXICON)) / 2;
            y = (h - GetSystemMetrics(SM_CYICON)) / 2;
        }
        drawn.fill(background);
        DrawIconEx(drawn.dc(), x, y, icon, 0, 0, 0, NULL, DI_NORMAL);
        long long d = shot.diff(drawn);
        if (best < 0 || d < best) {
            second = best;
            best = d;
            bestFlag = c.flag;
        } else if (second < 0 || d < second) {
            second = d;
        }
    }
    // At most one unit of difference per pixel on average, and far better
    // than the next candidate (two of the standard icons are alike).
    if (best >= 0 && best <= (long long)w * h && (second < 0 || best * 4 < second)) {
        *decided = true;
        return bestFlag;
    }
    return 0;
}

HWND IconControl(HWND box)
{
    HWND ctl = Control(box, kMessageBoxIconId);
    if (ctl && IsIconStatic(ctl))
        return ctl;
    for (HWND kid : Descendants(box))
        if (GetParent(kid) == box && IsIconStatic(kid))
            return kid;
    return NULL;
}

bool ButtonShown(HWND box, int id)
{
    HWND b = Control(box, id);
    return b && HasStyle(b, WS_VISIBLE);
}

}  // namespace

// ------------------------------------------------------------------ finding

DWORD ProcessOf(HWND hwnd)
{
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(hwnd, &pid))
        return 0;
    return pid;
}

HWND WaitForDialog(const char *caption, DWORD timeoutMs, DWORD pid)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND dlg : VisibleDialogs(pid))
            if (Caption(dlg) == caption)
                return dlg;
        if (Elapsed(start) >= timeoutMs)
            break;
        Sleep(kPollMs);
    }
    if (timeoutMs == 0)
        return NULL;   // a mere look: not finding it may well be the point
    fprintf(stderr, "uidrv: no dialog \"%s\" (pid %lu) within %lu ms\n%s", caption,
            (unsigned long)pid, (unsigned long)timeoutMs, DescribeVisibleDialogs().c_str());
    fflush(stderr);
    return NULL;
}

bool WaitForDialogGone(HWND dlg, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!IsWindow(dlg) || !IsWindowVisible(dlg))
            return true;
        if (Elapsed(start) >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

std::string DescribeVisibleDialogs()
{
    std::vector<HWND> dialogs = VisibleDialogs(0);
    if (dialogs.empty())
        return "visible dialogs: none\n";
    std::string out = "visible dialogs:\n";
    for (HWND dlg : dialogs) {
        out += Format("  #32770 %p \"%s\" pid %lu%s\n", (void *)dlg, Escaped(Caption(dlg)).c_str(),
                      (unsigned long)ProcessOf(dlg), IsWindowEnabled(dlg) ? "" : " (disabled)");
        // A thread that does not answer makes every further question wait:
        // after one timeout, take the kept texts.
        bool answering = true;
        for (HWND kid : Descendants(dlg)) {
            std::string text;
            if (!answering || !(answering = AskedText(kid, 300, &text)))
                text = StoredText(kid);
            LONG style = GetWindowLongA(kid, GWL_STYLE);
            std::string notes;
            if (!(style & WS_VISIBLE))
                notes += " hidden";
            if (style & WS_DISABLED)
                notes += " disabled";
            if (IsIconStatic(kid)) {
                DWORD_PTR icon = 0;
                if (SendMessageTimeoutW(kid, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 300, &icon))
                    notes += icon ? " icon" : " no-icon";
            }
            if (GetParent(kid) != dlg)
                notes += " nested";
            out += Format("    id %d %s \"%s\"%s\n", (int)(WORD)GetDlgCtrlID(kid),
                          ClassOf(kid).c_str(), Escaped(text).c_str(), notes.c_str());
        }
    }
    return out;
}

// ------------------------------------------------------------------ texts

std::string Caption(HWND hwnd) { return StoredText(hwnd); }

HWND Control(HWND dlg, int id)
{
    for (HWND kid = GetWindow(dlg, GW_CHILD); kid; kid = GetWindow(kid, GW_HWNDNEXT))
        if ((WORD)GetDlgCtrlID(kid) == (WORD)id)
            return kid;
    return NULL;
}

std::string WindowText(HWND hwnd)
{
    std::string text;
    if (!AskedText(hwnd, kSendTimeoutMs, &text))
        text = StoredText(hwnd);
    return text;
}

std::string ControlText(HWND dlg, int id)
{
    HWND ctl = Control(dlg, id);
    return ctl ? WindowText(ctl) : std::string();
}

std::string MessageBoxText(HWND box) { return ControlText(box, kMessageBoxTextId); }

// ------------------------------------------------------------------ message box kind

UINT MessageBoxIcon(HWND box, DWORD waitMs)
{
    HWND ctl = IconControl(box);
    if (!ctl || !HasStyle(ctl, WS_VISIBLE))
        return 0;
    // The handle itself means nothing in this process, but whether there
    // is one does.
    DWORD_PTR icon = 0;
    if (SendMessageTimeoutW(ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &icon) &&
        !icon)
        return 0;
    // The box may be showing but not painted yet: look again for a while.
    DWORD start = GetTickCount();
    for (;;) {
        bool decided = false;
        UINT flag = MatchIcon(ctl, &decided);
        if (decided)
            return flag;
        if (Elapsed(start) >= waitMs || !IsWindow(ctl))
            return kUnknownIcon;
        Sleep(50);
    }
}

UINT MessageBoxStyle(HWND box)
{
    enum { kOk = 1, kCancel = 2, kAbort = 4, kRetry = 8, kIgnore = 16, kYes = 32, kNo = 64, kTry = 128,
           kContinue = 256 };
    const struct { int id; unsigned bit; } ids[] = {
        {IDOK, kOk}, {IDCANCEL, kCancel}, {IDABORT, kAbort}, {IDRETRY, kRetry}, {IDIGNORE, kIgnore},
        {IDYES, kYes}, {IDNO, kNo}, {IDTRYAGAIN, kTry}, {IDCONTINUE, kContinue},
    };
    unsigned shown = 0;
    for (const auto &b : ids)
        if (ButtonShown(box, b.id))
            shown |= b.bit;

    UINT style;
    switch (shown) {
    case kOk: style = MB_OK; break;
    case kOk | kCancel: style = MB_OKCANCEL; break;
    case kAbort | kRetry | kIgnore: style = MB_ABORTRETRYIGNORE; break;
    case kYes | kNo | kCancel: style = MB_YESNOCANCEL; break;
    case kYes | kNo: style = MB_YESNO; break;
    case kRetry | kCancel: style = MB_RETRYCANCEL; break;
    case kCancel | kTry | kContinue: style = MB_CANCELTRYCONTINUE; break;
    default: style = kUnknownButtons; break;
    }
    if (ButtonShown(box, IDHELP))
        style |= MB_HELP;
    return style | MessageBoxIcon(box);
}

int DefaultButton(HWND dlg)
{
    for (HWND kid = GetWindow(dlg, GW_CHILD); kid; kid = GetWindow(kid, GW_HWNDNEXT)) {
        if (_stricmp(ClassOf(kid).c_str(), "Button") != 0)
            continue;
        if ((GetWindowLongA(kid, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return (WORD)GetDlgCtrlID(kid);
    }
    return 0;
}

// ------------------------------------------------------------------ input

void PressButton(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)Control(dlg, id));
}

void CloseWithCaptionBox(HWND dlg) { PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }

// ------------------------------------------------------------------ processes

Proc Launch(const char *exePath, const char *workDir, const char *args)
{
    std::string cmd = std::string("\"") + exePath + "\"";
    if (args && *args)
        cmd += std::string(" ") + args;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exePath, &cmd[0], NULL, NULL, FALSE, 0, NULL, workDir, &si, &pi)) {
        fprintf(stderr, "uidrv: cannot start %s (in %s): error %lu\n", exePath,
                workDir ? workDir : "the current folder", (unsigned long)GetLastError());
        fflush(stderr);
        return Proc{NULL, 0};
    }
    CloseHandle(pi.hThread);
    return Proc{pi.hProcess, pi.dwProcessId};
}

bool WaitExit(const Proc &p, DWORD timeoutMs, DWORD *exitCode)
{
    if (!p.process || WaitForSingleObject(p.process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode) {
        DWORD code = 0;
        GetExitCodeProcess(p.process, &code);
        *exitCode = code;
    }
    return true;
}

void Kill(const Proc &p)
{
    if (!p.process || WaitForSingleObject(p.process, 0) == WAIT_OBJECT_0)
        return;
    TerminateProcess(p.process, 0xDEAD);
    WaitForSingleObject(p.process, 10000);
}

void Release(Proc &p)
{
    if (p.process)
        CloseHandle(p.process);
    p.process = NULL;
}

// ------------------------------------------------------------------ scripted answers

Answerer::Answerer(std::vector<Expect> script, DWORD pid, DWORD perStepTimeoutMs)
    : script_(std::move(script)), pid_(pid), stepTimeout_(perStepTimeoutMs)
{
}

Answerer::~Answerer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void Answerer::Start()
{
    if (started_.exchange(true))
        return;
    for (HWND dlg : VisibleDialogs(pid_))
        before_.insert(dlg);
    thread_ = std::thread(&Answerer::Run, this);
}

bool Answerer::Finish(DWORD timeoutMs)
{
    if (!started_) {
        Fail("the script was never started");
        return false;
    }
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_; });
    }
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mu_);
    return failure_.empty() && done_ == script_.size();
}

std::vector<std::string> Answerer::Log() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

std::string Answerer::Failure() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return failure_;
}

void Answerer::Fail(const std::string &what)
{
    std::string entry = what + "\n" + DescribeVisibleDialogs();
    std::lock_guard<std::mutex> lock(mu_);
    failure_ += entry;
}

void Answerer::Note(HWND dlg, const std::string &text, UINT style)
{
    std::string line = Escaped(Caption(dlg)) + " | " + Escaped(text) + " | " + std::to_string(style);
    std::lock_guard<std::mutex> lock(mu_);
    log_.push_back(line);
}

bool Answerer::Nap(DWORD ms)
{
    DWORD start = GetTickCount();
    while (!stop_ && Elapsed(start) < ms)
        ::Sleep(ms < kPollMs ? ms : kPollMs);
    return !stop_;
}

HWND Answerer::FindStep(const Expect &step)
{
    bool any = step.caption == "*";
    for (HWND dlg : VisibleDialogs(pid_)) {
        if (!IsWindowEnabled(dlg))
            continue;   // a dialog of its own is on top of it
        // a step is always a dialog that came up after Start()
        if (before_.count(dlg) || answered_.count(dlg))
            continue;
        if (!any && Caption(dlg) != step.caption)
            continue;
        return dlg;
    }
    return NULL;
}

void Answerer::DismissNew()
{
    for (HWND dlg : VisibleDialogs(pid_)) {
        if (!IsWindowEnabled(dlg) || before_.count(dlg))
            continue;
        auto it = dismissed_.find(dlg);
        if (it != dismissed_.end() && Elapsed(it->second) < 1000)
            continue;
        if (it == dismissed_.end()) {
            Note(dlg, MessageBoxText(dlg), MessageBoxStyle(dlg));
            Fail("unexpected dialog \"" + Escaped(Caption(dlg)) + "\", closed with IDCANCEL");
        }
        dismissed_[dlg] = GetTickCount();
        PressButton(dlg, IDCANCEL);
    }
}

void Answerer::Run()
{
    bool broken = false;
    for (size_t i = 0; i < script_.size() && !broken; i++) {
        const Expect &step = script_[i];
        std::string name = Format("step %u (\"%s\")", (unsigned)(i + 1), Escaped(step.caption).c_str());

        HWND dlg = NULL;
        DWORD start = GetTickCount();
        while (!(dlg = FindStep(step)) && Elapsed(start) < stepTimeout_ && Nap(kPollMs)) {
        }
        if (!dlg) {
            Fail(name + (stop_ ? ": not reached when the script was ended"
                               : Format(": no such dialog within %lu ms", (unsigned long)stepTimeout_)));
            broken = true;
            break;
        }
        answered_.insert(dlg);
        std::string text = ControlText(dlg, step.textId);
        UINT style = MessageBoxStyle(dlg);
        Note(dlg, text, style);

        if (!step.text.empty() && text != step.text)
            Fail(name + ": text \"" + Escaped(text) + "\", expected \"" + Escaped(step.text) + "\"");
        if (step.style != -1 && style != (UINT)step.style)
            Fail(name + Format(": style %u (0x%x), expected %d (0x%x)", style, style, step.style,
                               (unsigned)step.style));
        if (step.press == kCloseBox) {
            CloseWithCaptionBox(dlg);
        } else {
            if (!ButtonShown(dlg, step.press))
                Fail(name + Format(": no button %d to press (pressed anyway)", step.press));
            PressButton(dlg, step.press);
        }

        // Closed, or disabled under a dialog it opened in answer.
        start = GetTickCount();
        while (IsWindow(dlg) && IsWindowVisible(dlg) && IsWindowEnabled(dlg) &&
               Elapsed(start) < stepTimeout_ && Nap(kPollMs)) {
        }
        if (IsWindow(dlg) && IsWindowVisible(dlg) && IsWindowEnabled(dlg)) {
            Fail(name + Format(": still open after pressing %d", step.press));
            broken = true;
            break;
        }
        done_++;
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        finished_ = true;
    }
    cv_.notify_all();

    // Whoever is blocked in a box the script did not foresee gets it back.
    if (broken || dismissExtras_) {
        while (Nap(50))
            DismissNew();
    }
}

// ------------------------------------------------------------------ watching

bool NoDialogAppears(DWORD ms, DWORD pid, std::string *what)
{
    std::vector<HWND> before = VisibleDialogs(pid);
    std::set<HWND> known(before.begin(), before.end());
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND dlg : VisibleDialogs(pid)) {
            if (known.count(dlg))
                continue;
            std::string msg = "uidrv: unexpected dialog \"" + Escaped(Caption(dlg)) +
                              Format("\" after %lu ms\n", (unsigned long)Elapsed(start)) +
                              DescribeVisibleDialogs();
            fprintf(stderr, "%s", msg.c_str());
            fflush(stderr);
            if (what)
                *what = msg;
            return false;
        }
        if (Elapsed(start) >= ms)
            return true;
        Sleep(kPollMs);
    }
}

}  // namespace uidrv
