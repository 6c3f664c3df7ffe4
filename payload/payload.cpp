#include "payload.h"
#include "../setup/state.h"
#include "../platform/syslib.h"

/* Order matters: files are verified and installed in this order. The
   expected checksums come from the build (payload_sums.cpp). */
const char *const g_payloadFiles[PAYLOAD_COUNT] = {
    "vxmain.vdf",
    "vxsky_readme.txt",
};

/* Entries are resources of type "DLL" named by the file name without its
   spaces; resource names compare case-insensitively. A name with more than
   255 characters left is refused rather than cut short. */
HRSRC FindPayloadResource(const char *fileName)
{
    char name[256];
    int n = 0;

    for (const char *p = fileName; *p; p++) {
        if (*p == ' ')
            continue;
        if (n >= (int)sizeof(name) - 1)
            return NULL;
        name[n++] = *p;
    }
    name[n] = '\0';
    return FindResourceA(g_hInstance, name, "DLL");
}

/* The resource is mapped with the module, so the sum runs over it in place. */
uint32_t ChecksumPayloadEntry(const char *fileName)
{
    HRSRC hRes = FindPayloadResource(fileName);
    HGLOBAL hData = LoadResource(g_hInstance, hRes);
    DWORD size = SizeofResource(g_hInstance, hRes);
    const unsigned char *bytes = (const unsigned char *)LockResource(hData);
    uint32_t sum;

    if (bytes == NULL)
        size = 0;
    sum = PayloadChecksum(bytes, (int32_t)size);
    FreeResource(hData);
    return sum;
}

int VerifyPayload(const char *const *fileNames, const uint32_t *checksums, int count)
{
    for (int i = 0; i < count; i++) {
        if (ChecksumPayloadEntry(fileNames[i]) != checksums[i])
            return 0;
    }
    return 1;
}

/* Vector registers are used only where the system saves them when it
   switches tasks and says that the processor has them. The 95/98 family
   and NT 4.0 may not save them, so they keep to the baseline. NT 5.0 and
   later answer IsProcessorFeaturePresent, which is asked by name because
   Windows 95 has no such function to import (Windows 2000 does not know
   the SSE2 feature and answers no). */
typedef BOOL(WINAPI *IsProcessorFeaturePresentProc)(DWORD feature);

int ChecksumVectorAllowed(const OSVERSIONINFOA *version)
{
    IsProcessorFeaturePresentProc isPresent;

    if (version->dwPlatformId != VER_PLATFORM_WIN32_NT || version->dwMajorVersion <= 4)
        return 0;
    isPresent = (IsProcessorFeaturePresentProc)(void (*)(void))KernelProc("IsProcessorFeaturePresent");
    return isPresent != NULL && isPresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
}
