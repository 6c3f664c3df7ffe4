/* The process's entry point, in place of a C runtime's start-up code: the
   program needs no C runtime, so it runs on a Windows 95 that has none.
   Only the shipped program is linked with this file; the tests keep their
   C runtime. */
#include <windows.h>
#include <stddef.h>

/* The compiler may turn copies and clears of whole structures into calls of
   these two. */
extern "C" void *memcpy(void *dst, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dst;
    const unsigned char *s = (const unsigned char *)src;

    while (n--)
        *d++ = *s++;
    return dst;
}

extern "C" void *memset(void *dst, int value, size_t n)
{
    unsigned char *d = (unsigned char *)dst;

    while (n--)
        *d++ = (unsigned char)value;
    return dst;
}

/* The linker puts this at the image's base: the module's own handle. */
extern "C" IMAGE_DOS_HEADER __ImageBase;

/* WinMain's command line and show state go unused: ReadCommandLine reads
   the switches from GetCommandLineA, and the windows choose their own way
   of showing. */
extern "C" void WinMainCRTStartup(void)
{
    ExitProcess((UINT)WinMain((HINSTANCE)&__ImageBase, NULL, (LPSTR)"", SW_SHOWDEFAULT));
}
