#include "checksum.h"

/* Every byte counts as a signed 8-bit value; the length is added at the end.
   A block of length below 1 yields the length itself. The sum is kept in
   unsigned arithmetic so that it wraps modulo 2^32 without overflow.

   The loop is one pass over the bytes in place. Four bytes are taken at a
   time in a 32-bit word: the sum of the four bytes as unsigned values, less
   256 for each byte with its top bit set, is their signed sum. */
uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length)
{
    if (length < 1)
        return (uint32_t)length;

    uint32_t n = (uint32_t)length;
    uint32_t sum = 0;
    uint32_t i = 0;

    /* unsigned byte sum in two 16-bit lanes per word, flushed before they
       can overflow (255 * 2 per lane per word, 128 words per flush) */
    while (n - i >= 4) {
        uint32_t chunk = (n - i) / 4;
        if (chunk > 128)
            chunk = 128;
        uint32_t lanes = 0, tops = 0;
        for (uint32_t k = 0; k < chunk; k++, i += 4) {
            uint32_t w = (uint32_t)bytes[i] | ((uint32_t)bytes[i + 1] << 8) |
                         ((uint32_t)bytes[i + 2] << 16) | ((uint32_t)bytes[i + 3] << 24);
            lanes += w & 0x00FF00FFu;
            lanes += (w >> 8) & 0x00FF00FFu;
            tops += (w >> 7) & 0x01010101u;
        }
        uint32_t unsignedSum = (lanes & 0xFFFFu) + (lanes >> 16);
        uint32_t topCount = (tops & 0xFFu) + ((tops >> 8) & 0xFFu) +
                            ((tops >> 16) & 0xFFu) + (tops >> 24);
        sum += unsignedSum - topCount * 256u;
    }
    for (; i < n; i++)
        sum += (uint32_t)(int32_t)(signed char)bytes[i];

    return sum + n;
}
