// Helpers shared by the test executables: scratch folders, files, the
// programs under test and prefix settings.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <functional>
#include <string>
#include <vector>

namespace ts {

// A fresh, empty folder for the running test (ends in a backslash), on the
// scratch drive G: (a network drive, so the drive search never walks it).
std::string ScratchDir();

// Empties the folder behind a drive letter (D: or F:, the test bed's fixed
// drives besides C:), so a search sees only what the test puts there.
void ClearDrive(char letter);

bool MakeDirs(const std::string &path);
bool WriteBytes(const std::string &path, const std::string &bytes);
bool ReadBytes(const std::string &path, std::string *bytes);
bool FileExists(const std::string &path);
bool DirExists(const std::string &path);
void RemoveTree(const std::string &path);
std::vector<std::string> ListDir(const std::string &dir);   // names, no . or ..

// The setup program of this build and the payload files it embeds.
std::string SetupExe();               // X:\bin\VexmoorSkyriftSetup.exe
std::string PayloadFile(const char *name);

// Reported Windows version ("win31", "win98", "nt40", "winxp") for programs
// of the given file name, through Wine's per-program settings.
bool SetReportedVersion(const std::string &exeName, const char *version);

// Copies the setup program to dir\name and returns the full path.
std::string CopySetupTo(const std::string &dir, const std::string &name);

// The HKLM value of the registered delayed moves, decoded to pairs
// (source, target); target empty for a deletion.
std::vector<std::pair<std::string, std::string>> PendingMoves();
void ClearPendingMoves();

// Runs fn on this thread and watches meanwhile for any dialog or message
// box of this process that was not showing before; such a window is closed
// (so fn can come back) and the result is false.
bool NoDialogDuring(const std::function<void()> &fn, std::string *seen = nullptr);

// In the shell's folder picker (of any process), opens the tree down the
// path and selects its last item. The first element is a drive ("D:"),
// found below the desktop's "My Computer"; the rest are folder names.
bool SelectFolderInPicker(HWND picker, const std::vector<std::string> &path);

// A hash of a window's pixels as shown on the screen.
uint32_t WindowPixelHash(HWND hwnd);

}  // namespace ts
