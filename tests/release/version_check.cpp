// version_check EXE DESCRIPTION PRODUCT FILEVER PRODVER COMPANY COPYRIGHT FIXED
// Reads EXE's file properties back the way Windows does and compares them with
// the expected values; FIXED ("1.0.0.0") is both numeric versions. Prints what
// it read; exits with the number of mismatches (100: no version resource).
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    DWORD size = argc == 9 ? GetFileVersionInfoSizeA(argv[1], NULL) : 0;
    std::vector<char> info(size + 1);
    WORD *lang;
    UINT len;
    void *p;
    if (!size || !GetFileVersionInfoA(argv[1], 0, size, info.data()) ||
        !VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&lang, &len) || len < 4) {
        std::puts("no version resource (or wrong arguments)");
        return 100;
    }
    static const char *const names[] = { "FileDescription", "ProductName", "FileVersion",
                                         "ProductVersion", "CompanyName", "LegalCopyright", "fixed" };
    char got[7][128] = {};
    for (int i = 0; i < 6; i++) {
        char key[96];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", lang[0], lang[1], names[i]);
        if (VerQueryValueA(info.data(), key, &p, &len))
            std::snprintf(got[i], sizeof got[i], "%s", (const char *)p);
    }
    if (VerQueryValueA(info.data(), "\\", &p, &len) && len >= sizeof(VS_FIXEDFILEINFO)) {
        const VS_FIXEDFILEINFO *f = (const VS_FIXEDFILEINFO *)p;
        DWORD v[4] = { f->dwFileVersionMS, f->dwFileVersionLS, f->dwProductVersionMS, f->dwProductVersionLS };
        std::snprintf(got[6], sizeof got[6], "%lu.%lu.%lu.%lu", v[0] >> 16, v[0] & 0xffff, v[1] >> 16, v[1] & 0xffff);
        if (v[0] != v[2] || v[1] != v[3])
            std::snprintf(got[6], sizeof got[6], "file %lx.%lx, product %lx.%lx", v[0], v[1], v[2], v[3]);
    }
    int bad = 0;
    for (int i = 0; i < 7; i++) {
        bool ok = std::strcmp(got[i], argv[2 + i]) == 0;
        bad += !ok;
        std::printf("%-16s %s \"%s\"\n", names[i], ok ? "ok  " : "FAIL", got[i]);
    }
    return bad;
}
