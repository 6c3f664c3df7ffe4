/* The table of embedded files, their lookup and the start-up check. */
#ifndef SKYRIFT_PAYLOAD_H
#define SKYRIFT_PAYLOAD_H

#include <windows.h>
#include <stdint.h>
#include "checksum.h"

#define PAYLOAD_COUNT 2

extern const char *const g_payloadFiles[PAYLOAD_COUNT];
extern const uint32_t g_payloadChecksums[PAYLOAD_COUNT];

HRSRC FindPayloadResource(const char *fileName);
uint32_t ChecksumPayloadEntry(const char *fileName);
int VerifyPayload(const char *const *fileNames, const uint32_t *checksums, int count);

/* 1 when the checksum may take its SSE2 path on the system of this version
   record, 0 when it must keep to its baseline. */
int ChecksumVectorAllowed(const OSVERSIONINFOA *version);

#endif
