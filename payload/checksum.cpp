#include <string.h>
#include "checksum.h"

/* Every byte counts as a signed 8-bit value; the length is added at the end.
   A block of length below 1 yields the length itself. The sum is kept in
   unsigned arithmetic so that it wraps modulo 2^32 without overflow.

   The loop is one pass over the bytes in place. A byte b read as signed is
   (b ^ 0x80) - 128, so the signed sum is the unsigned sum of the bytes with
   their top bits flipped, less 128 for each byte. Words of four bytes are
   flipped at once and their bytes summed in two 16-bit lanes per
   accumulator, which are flushed before a lane can overflow. */
uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length)
{
    if (length < 1)
        return (uint32_t)length;

    uint32_t n = (uint32_t)length;
    uint32_t sum = 0;
    uint32_t i = 0;

    /* 128 blocks of 8 bytes add at most 128 * 2 * 255 to each lane */
    while (n - i >= 8) {
        uint32_t blocks = (n - i) / 8;
        if (blocks > 128)
            blocks = 128;
        uint32_t even = 0, odd = 0;
        for (uint32_t k = 0; k < blocks; k++, i += 8) {
            uint32_t a, b;
            memcpy(&a, bytes + i, 4);         /* one unaligned load each */
            memcpy(&b, bytes + i + 4, 4);
            a ^= 0x80808080u;
            b ^= 0x80808080u;
            even += (a & 0x00FF00FFu) + (b & 0x00FF00FFu);
            odd += ((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu);
        }
        sum += (even & 0xFFFFu) + (even >> 16) + (odd & 0xFFFFu) + (odd >> 16) - blocks * 8u * 128u;
    }
    for (; i < n; i++)
        sum += (uint32_t)(int32_t)(signed char)bytes[i];

    return sum + n;
}
