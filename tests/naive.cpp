// A program that loads and starts the system's files the way a careless one
// does: LZ32 imported, every library named on its command line loaded by
// name, Notepad started by name. Beside files planted under those names it
// must run every one of them: the proof that the test bed would see the
// setup do the same.
#include <windows.h>
#include <lzexpand.h>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int)
{
    static void (WINAPI *volatile imported)(INT) = LZClose;   // imported, never called
    (void)imported;
    std::string names = cmdLine;
    for (size_t at = 0, end; at < names.size(); at = end + 1) {
        end = names.find(' ', at);
        if (end == std::string::npos)
            end = names.size();
        if (end > at)
            LoadLibraryA(names.substr(at, end - at).c_str());
    }
    WinExec("notepad", SW_SHOWNORMAL);
    return 0;
}
