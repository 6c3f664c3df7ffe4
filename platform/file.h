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
/* A file made for writing where nothing stands at path yet: it fails
   (ERROR_FILE_EXISTS) on anything there, a link too, which it never
   follows. */
HANDLE CreateNewFile(const char *path);
/* A new empty file of a name of its own in folder, open for writing and
   shared for deleting, so that it can be renamed while it is open (NT
   only): INVALID_HANDLE_VALUE when none can be made; *name is its path. */
HANDLE CreateFreshFile(const char *folder, char name[MAX_PATH]);
/* from takes the name to, replacing what stands there (a link as a link,
   never followed). NT only. */
int RenameOver(const char *from, const char *to);
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
