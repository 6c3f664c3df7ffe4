// The UI driver of the tests: finds the setup's windows, reads what they show
// and presses their buttons, from the same process or from another one.
#pragma once

#include <windows.h>
#include <set>
#include <string>
#include <vector>

namespace ui {

// A top-level dialog of one kind: its caption and a control it must show.
struct Sel {
    std::string caption;
    int id;
};
const int kBoxText = 0xFFFF;   // the text control of a message box
const int kBoxIcon = 0x0440;   // its icon control: every message box has one
const int kEnter = -10;        // "press" the Enter key instead of a button
const int kCloseBox = -11;     // "press" the close box of the caption
// "Press" a key on the keyboard: Key(VK_RETURN), Key(kAlt | 'B'), Key(kShift | VK_TAB).
const int kKey = 0x40000000, kAlt = 0x10000, kShift = 0x20000;
constexpr int Key(int key) { return kKey | key; }

// Visible top-level dialogs of process pid (0: of any), topmost first.
std::vector<HWND> Dialogs(DWORD pid);
bool Is(HWND w, const Sel &s);
bool IsBox(HWND w);
bool IsPicker(HWND w);                // the shell's folder picker, in any language
HWND Find(DWORD pid, const Sel &s);   // a visible dialog of the kind, or NULL

std::string Caption(HWND w);
std::string Text(HWND dlg, int id);   // of the control id
// The texts of a dialog's controls in order, joined by '|'; an icon control
// that holds an icon reads "<icon>".
std::string Reads(HWND dlg);
std::string Owner(HWND w);            // the owner's caption, "" for none
// The MB_ style a message box was made with, read off its buttons and the
// icon it shows (compared on screen with the system's icons).
int Style(HWND box);

// Presses a button the player could click (shown, enabled, not covered), or
// the Enter key, or the caption's close box, or types a Key on the keyboard
// while dlg is the foreground window. False if there is nothing to press.
bool Press(HWND dlg, int id);
// Types a Key as the keyboard does (SendInput): it goes to the control that
// has the focus in the foreground window, whichever that is.
bool Type(int key);
// The window that has the keyboard focus in w's thread (NULL: none).
HWND Focus(HWND w);

// Presses the button (0: already pressed) until the window goes, is hidden,
// or is covered by a question the press brought up (disabled). False when it
// stays for ms.
bool Close(HWND w, int id, DWORD ms);
// Selects a folder (no closing backslash but on a drive's root) in the
// folder picker of another process, as a click in its tree would.
bool Choose(HWND picker, const std::string &folder);
// The name of the folder selected in the picker's tree ("" for none).
std::string Chosen(HWND picker);

// Arranging the drives and starting programs, as the player's machine would.
// Empties a folder and removes it (a drive's root stays), through the
// long-path form, so that trees deeper than MAX_PATH go too.
void RemoveTree(const std::string &dir);
// The names in a folder (a path ending in a backslash), sorted, joined by '|'.
std::string Listing(const std::string &dir);
std::string Joined(std::vector<std::string> names, const char *sep);   // sorted
// A file's bytes, whole ("<none>": unreadable); one byte more is asked for, so a growing file shows.
std::string Read(const std::string &path);
std::string Ansi(const wchar_t *text);   // in this process's ANSI code page
void MakeDirs(const std::string &path);                       // every folder of a drive path
bool Put(const std::string &path, const std::string &bytes);  // a file, its folders made first
// The room left on the drive of root ("H:\\") in bytes, and its cluster's
// size; -1 when the drive cannot say.
long long Room(const std::string &root, long long *cluster);
// A file at path that leaves exactly leave bytes (whole clusters) free on its
// drive. False when that cannot be done.
bool Fill(const std::string &path, long long leave);
// The Windows version ("winxp", "win98"...) Wine reports to programs of this file name.
bool ReportVersion(const std::string &exeName, const char *version);
// How Wine loads the libraries of these names (without ".dll") for programs
// of this file name: "native,builtin" takes a file of that name where the
// search finds one, as Windows does for a library that is not a known DLL;
// NULL goes back to Wine's own order.
bool LoadOrder(const std::string &exeName, const std::vector<std::string> &libraries, const char *order);
// Ends every program of the test bed with this file name ("notepad.exe").
void EndAll(const char *exeName);
// Starts a command line in dir (NULL: this one); the thread handle is closed.
bool Run(const std::string &command, const char *dir, PROCESS_INFORMATION *proc);

// The static texts of a dialog that do not fit what the dialog shows of
// their controls, wrapped at the control's width as it draws them and
// measured in font, or, with NULL, in each control's own (a window of this
// process only): the texts joined by '|', and in *why what each needs, has
// and shows.
std::string Clipped(HWND dlg, HFONT font, std::string *why);
// The font every message box draws its text in: the system's message font.
HFONT MessageFont();
// The static texts of a dialog on screen that are drawn up to their
// control's right edge (a line cut off there), whatever the measures said:
// the texts joined by '|'.
std::string CutOff(HWND dlg);

unsigned Pixels(HWND w);              // a hash of what the screen shows of w
std::string Describe(DWORD pid);      // every visible dialog, for failure messages

}  // namespace ui
