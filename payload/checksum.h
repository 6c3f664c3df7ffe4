/* The payload checksum: a signed byte sum plus the length. Kept free of any
   platform header so that the build's own checksum tool compiles it too. */
#ifndef SKYRIFT_CHECKSUM_H
#define SKYRIFT_CHECKSUM_H

#include <stdint.h>

uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length);

/* Set: the checksum stays on its baseline, which any 386 runs, even where
   the processor has SSE2 (for systems that do not keep the vector
   registers, and to test the baseline). */
extern int g_checksumBaseline;

#endif
