// A careless program: LZ32 imported, the libraries its command line names loaded by
// name, Notepad started by name. That the planted files run proves the bed sees it.
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
