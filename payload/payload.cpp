#include "payload.h"
#include "../setup/state.h"

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
