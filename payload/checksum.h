/* The payload checksum: a signed byte sum plus the length. Kept free of any
   platform header so that the build's own checksum tool compiles it too. */
#ifndef SKYRIFT_CHECKSUM_H
#define SKYRIFT_CHECKSUM_H

#include <stdint.h>

uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length);

/* The two paths of the checksum's one pass (see checksum.cpp): the
   baseline, which any 386 runs, and the SSE2 path. These two and the
   choice below keep their names in the program's link map, where the tests
   read which path start-up chose. */
typedef uint32_t (*ChecksumPath)(const unsigned char *bytes, uint32_t n);
__attribute__((externally_visible)) uint32_t SumFlipped(const unsigned char *bytes, uint32_t n);
__attribute__((externally_visible, target("sse2"))) uint32_t SumFlippedSse2(const unsigned char *bytes, uint32_t n);

/* The path the checksum takes, set once at start-up by ChooseChecksumPath:
   the SSE2 path where the system allows it (vectorAllowed) and the
   processor has SSE2, else the baseline. Unset (NULL), the checksum takes
   the baseline. */
extern ChecksumPath g_checksumPath __attribute__((externally_visible));
void ChooseChecksumPath(int vectorAllowed);

#endif
