#include "file.h"

/* No FILE_SHARE_DELETE: Windows 95 does not know it. */
HANDLE CreateFileForWriting(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

int WriteFileBytes(HANDLE file, const void *bytes, DWORD size)
{
    DWORD written = 0;

    return WriteFile(file, bytes, size, &written, NULL) && written == size;
}

int CloseFile(HANDLE file)
{
    return CloseHandle(file) != 0;
}

int RemoveFile(const char *path)
{
    return DeleteFileA(path) != 0;
}

int MakeDirectory(const char *path)
{
    return CreateDirectoryA(path, NULL) != 0;
}
