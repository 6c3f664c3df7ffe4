#include "file.h"

/* No FILE_SHARE_DELETE: Windows 95 does not know it. */
HANDLE CreateFileForWriting(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE CreateNewFile(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

HANDLE CreateFreshFile(const char *folder, char name[MAX_PATH])
{
    HANDLE file = INVALID_HANDLE_VALUE;

    if (GetTempFileNameA(folder, "vx", 0, name)) {
        file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            RemoveFile(name);
    }
    return file;
}

int RenameOver(const char *from, const char *to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
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

DWORD WritableFileSize(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD size = 0;

    if (file != INVALID_HANDLE_VALUE) {
        size = GetFileSize(file, NULL);
        CloseFile(file);
    }
    return size;
}

int DriveRoom(const char *root, DWORD *cluster, DWORD *freeClusters)
{
    DWORD perCluster, perSector, total;

    if (!GetDiskFreeSpaceA(root, &perCluster, &perSector, freeClusters, &total))
        return 0;
    *cluster = perCluster * perSector;
    return *cluster != 0;
}
