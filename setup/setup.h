/* Setup shell: start-up, the welcome dialog, the flow controller and the
   copying dialog. */
#ifndef SKYRIFT_SETUP_H
#define SKYRIFT_SETUP_H

#include <windows.h>

INT_PTR CALLBACK WelcomeDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CopyDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RunSetupPhases(HWND hWelcome);

#endif
