/* Setup shell: start-up, the welcome dialog, the flow controller and the
   copying dialog. */
#ifndef SKYRIFT_SETUP_H
#define SKYRIFT_SETUP_H

#include <windows.h>

INT_PTR CALLBACK WelcomeDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CopyDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RunSetupPhases(HWND hWelcome);

/* 1 when another setup already runs (this one is to end at once, having
   brought that one's window to the front), else 0. */
int AnotherSetupRuns(void);

/* One message of the thread's queue: the keys of the modeless dialog
   (Tab, Enter, Esc, the mnemonics and Space) go to it, which works only
   through IsDialogMessageA; everything else is dispatched. */
void DispatchToDialog(HWND hDialog, MSG *msg);

/* A message box of no owner with the stop sign: the start-up's refusals
   and the folder picker's troubles. Returns 0, for the caller to return. */
int ErrorBox(const char *text, const char *caption);

/* Every message of the setup: logged, then shown with the owner and style
   given and its answer returned; in a silent run not shown, and answered
   silentAnswer. */
int ShowMessage(HWND owner, const char *text, const char *caption, UINT style, int silentAnswer);

/* The command line's switches, read into the setup state, and the log
   opened: 1 when the setup is to go on; 0 when it is to end at once (the
   switches listed, or an unknown switch in a silent start: g_exitCode). */
int ReadCommandLine(void);

/* A silent run: the folder given or the first one found, then the copy,
   with no question. Its result is in g_exitCode. */
void RunSilently(void);

/* The log of /LOG=: one line of format (wsprintf's, every string with a
   precision, so the line stays under 1024 characters), written at once. No
   log, or one that cannot be written, does nothing. */
void OpenLog(const char *path);
void Log(const char *format, ...);

#endif
