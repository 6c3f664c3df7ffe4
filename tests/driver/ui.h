// The tests' UI driver: finds the setup's windows, reads them and presses their buttons.
#pragma once

#include <windows.h>
#include <set>
#include <string>
#include <utility>
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
// a key typed: Key(VK_RETURN), Key(kAlt | 'B'), Key(kShift | VK_TAB)
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
// The texts of a dialog's controls joined by '|' (an icon reads "<icon>").
std::string Reads(HWND dlg);
std::string Owner(HWND w);            // the owner's caption, "" for none
// A message box's MB_ style, read off its buttons and its icon on screen.
int Style(HWND box);

// Presses a button the player could click, Enter, the close box, or a Key while
// dlg is in front. False if there is nothing to press.
bool Press(HWND dlg, int id);
HWND Focus(HWND w);   // the focus in w's thread (NULL: none)

// Presses (0: already pressed) until the window goes, hides or is disabled; false after ms.
bool Close(HWND w, int id, DWORD ms);
// Selects a folder (no closing backslash but a root) in another process's picker.
bool Choose(HWND picker, const std::string &folder);
std::string Chosen(HWND picker);   // the name selected in its tree ("": none)

// Empties and removes a folder (a root stays), also deeper than MAX_PATH.
void RemoveTree(const std::string &dir);
// The names in a folder (a path ending in a backslash) that match pattern, sorted, joined by '|'.
std::string Listing(const std::string &dir, const char *pattern = "*");
std::string Joined(std::vector<std::string> names, const char *sep);   // sorted
// A file's bytes ("<none>": unreadable); one byte more is asked for, so a growing file shows.
std::string Read(const std::string &path);
std::string Ansi(const wchar_t *text);   // in this process's ANSI code page
void MakeDirs(const std::string &path);                       // every folder of a drive path
bool Put(const std::string &path, const std::string &bytes);  // a file, its folders made first
long long Room(const std::string &root, long long *cluster);   // free bytes of "H:\\" (-1: unknown)
bool Fill(const std::string &path, long long leave);           // a file leaving exactly leave bytes free
// The Windows version ("winxp", "win98"...) Wine reports to programs of this file name.
bool ReportVersion(const std::string &exeName, const char *version);
// Wine's load order of these libraries for programs of this name ("native,builtin":
// a file of that name where the search finds one; NULL: Wine's own).
bool LoadOrder(const std::string &exeName, const std::vector<std::string> &libraries, const char *order);
int EndAll(const char *exeName, bool end = true);   // the programs of the bed of that name, ended unless !end
// Starts a command line in dir (NULL: this one); the thread handle is closed.
bool Run(const std::string &command, const char *dir, PROCESS_INFORMATION *proc);

// The static texts that do not fit what the dialog shows of their controls, measured
// in font (NULL: the control's own; this process only), joined by '|'; *why tells.
std::string Clipped(HWND dlg, HFONT font, std::string *why);
std::vector<std::pair<HWND, std::string>> StaticTexts(HWND dlg);   // the static controls showing a text

unsigned Pixels(HWND w);              // a hash of what the screen shows of w
std::string Describe(DWORD pid);      // every visible dialog, for failure messages

}  // namespace ui
