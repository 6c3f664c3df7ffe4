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
const int kBoxText = 0xFFFF;       // the text control of a message box
const int kBoxIcon = 0x0440;       // its icon control: every message box has one
const int kEnter = -10;            // "press" the Enter key instead of a button
const int kCloseBox = -11;         // "press" the close box of the caption

// Visible top-level dialogs of process pid (0: of any), topmost first.
std::vector<HWND> Dialogs(DWORD pid);
bool Is(HWND w, const Sel &s);
bool IsBox(HWND w);   // a message box
// Waits up to ms for a visible dialog of the kind that is not in `skip`.
HWND Find(DWORD pid, const Sel &s, DWORD ms, const std::set<HWND> &skip = {});

std::string Text(HWND w);
std::string Text(HWND dlg, int id);   // of the control id
std::string Caption(HWND w);
// The texts of a dialog's controls in order, joined by '|'; an icon control
// that holds an icon reads "<icon>".
std::string Reads(HWND dlg);
// The owner's caption, "" for none.
std::string Owner(HWND w);
// The MB_ style a message box was made with, read off its buttons and the
// icon it shows (compared on screen with the system's icons).
int Style(HWND box);

// Presses a button the player could click (shown, enabled, not covered), or
// the Enter key, or the caption's close box. False if there is nothing to press.
bool Press(HWND dlg, int id);

// What the screen shows of a window, as a hash of its pixels.
unsigned Pixels(HWND w);
// Every visible dialog with its controls, for failure messages.
std::string Describe(DWORD pid);

}  // namespace ui
