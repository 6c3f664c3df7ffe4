/* The installer's file operations on the platform's own calls. A file made
   for writing is created, or truncated when it exists, and shared for
   reading and writing while it is open: other programs are never locked
   out by it, and making it fails when another program holds the file
   without sharing write access (the installer's in-use probe). */
#ifndef SKYRIFT_FILE_H
#define SKYRIFT_FILE_H

#include <windows.h>

/* INVALID_HANDLE_VALUE when the file cannot be opened for writing. */
HANDLE CreateFileForWriting(const char *path);
/* 1 when every byte was written. */
int WriteFileBytes(HANDLE file, const void *bytes, DWORD size);
/* 1 when the file was closed (its last bytes written). */
int CloseFile(HANDLE file);
int RemoveFile(const char *path);
int MakeDirectory(const char *path);
/* The size of the file at path as an open for writing finds it, without
   emptying it: 0 when it cannot be opened so (absent, or in use). */
DWORD WritableFileSize(const char *path);
/* The bytes of a cluster and the free clusters of the drive of root ("X:\",
   or NULL: the current folder's): 0 when the drive cannot say. */
int DriveRoom(const char *root, DWORD *cluster, DWORD *freeClusters);

#endif
