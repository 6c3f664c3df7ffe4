/* File installer: one payload entry at a time through a temporary file, the
   overwrite question, replacement at restart and the whole run. */
#ifndef SKYRIFT_INSTALLER_H
#define SKYRIFT_INSTALLER_H

#include <windows.h>

typedef enum InstallResult {
    INSTALL_FAILED = -1,    /* failed; the user has been told */
    INSTALL_OK = 0,         /* the target holds the entry's content */
    INSTALL_DEFERRED = 1,   /* written beside the target until restart */
    INSTALL_DECLINED = 2    /* the user refused to overwrite */
} InstallResult;

/* The copy of an entry goes in pieces of INSTALL_PIECE_SIZE bytes; after
   each piece that completes a multiple of INSTALL_SERVE_BYTES, in writing
   the temporary file and in the expand-copy, the setup's windows are
   served. */
#define INSTALL_PIECE_SIZE 65536
#define INSTALL_SERVE_BYTES (16 * INSTALL_PIECE_SIZE)

int AskOverwrite(const char *relativeName);
INT_PTR CALLBACK OverwriteDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

InstallResult ScheduleReplaceAtRestart(const char *targetPath, const char *sidePath);
InstallResult InstallPayloadFile(const char *folder, const char *relativeName, const char *fileName);
int InstallAllFiles(void);

/* A message box of the copying phase: owned by the current dialog. */
int InstallerMessage(const char *text, const char *caption, UINT style);

#endif
