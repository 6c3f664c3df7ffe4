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

#endif
