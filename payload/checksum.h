/* The payload checksum: a signed byte sum plus the length. Kept free of any
   platform header so that the build's own checksum tool compiles it too. */
#ifndef SKYRIFT_CHECKSUM_H
#define SKYRIFT_CHECKSUM_H

#include <stdint.h>

uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length);

#endif
