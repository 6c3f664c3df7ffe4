#include <cpuid.h>
#include <emmintrin.h>
#include <string.h>
#include "checksum.h"

ChecksumPath g_checksumPath;

/* Every byte counts as a signed 8-bit value; the length is added at the end.
   A block of length below 1 yields the length itself. The sum is kept in
   unsigned arithmetic so that it wraps modulo 2^32 without overflow.

   A byte b read as signed is (b ^ 0x80) - 128, so the signed sum is the
   unsigned sum of the bytes with their top bits flipped, less 128 for each
   byte. Both paths below compute that unsigned sum, modulo 2^32, in one
   pass over the bytes in place. */

/* The baseline, for any 386: words of four bytes are flipped at once and
   their bytes summed in two 16-bit lanes per accumulator, which are
   flushed before a lane can overflow. */
uint32_t SumFlipped(const unsigned char *bytes, uint32_t n)
{
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
        sum += (even & 0xFFFFu) + (even >> 16) + (odd & 0xFFFFu) + (odd >> 16);
    }
    for (; i < n; i++)
        sum += bytes[i] ^ 0x80u;
    return sum;
}

/* The program is built for the 386. The two functions below are the only
   code that uses newer instructions, and each sits in a section of its own,
   which the link map shows (the linker merges them into .text): the check
   of the shipped exe allows SSE2 and later only in ".text$vec" and CPUID
   only in ".text$cpuid" (tests/binary/check_binary.sh cpu). */

/* SSE2: PSADBW against zero adds up 8 flipped bytes into each 64-bit half
   of a register. The halves' low 32 bits wrap modulo 2^32 like the result,
   so they are never flushed. The loads are aligned: the bytes before the
   first 16-byte boundary and after the last whole 32-byte step go through
   the baseline. */
__attribute__((target("sse2"), section(".text$vec")))
uint32_t SumFlippedSse2(const unsigned char *bytes, uint32_t n)
{
    uint32_t head = (uint32_t)(-(uintptr_t)bytes & 15);
    if (head > n)
        head = n;
    uint32_t steps = (n - head) / 32;
    const __m128i *p = (const __m128i *)(bytes + head);
    const __m128i flip = _mm_set1_epi8((char)0x80), zero = _mm_setzero_si128();
    __m128i a = zero, b = zero;

    for (uint32_t k = 0; k < steps; k++, p += 2) {
        a = _mm_add_epi32(a, _mm_sad_epu8(_mm_xor_si128(_mm_load_si128(p), flip), zero));
        b = _mm_add_epi32(b, _mm_sad_epu8(_mm_xor_si128(_mm_load_si128(p + 1), flip), zero));
    }
    a = _mm_add_epi32(a, b);
    a = _mm_add_epi32(a, _mm_srli_si128(a, 8));
    return SumFlipped(bytes, head) + (uint32_t)_mm_cvtsi128_si32(a) +
           SumFlipped(bytes + head + steps * 32, n - head - steps * 32);
}

/* CPUID leaf 1, EDX bit 26, asked once: 0 not yet, 1 no, 2 yes. On the
   386 and early 486, which have no CPUID, __get_cpuid first finds that the
   ID bit of EFLAGS cannot be changed and answers no. Never inlined, so the
   instruction stays in its section. */
static int g_sse2;

__attribute__((noinline, section(".text$cpuid")))
static int HasSse2(void)
{
    unsigned int eax, ebx, ecx, edx;

    if (g_sse2 == 0)
        g_sse2 = __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & (1u << 26)) != 0 ? 2 : 1;
    return g_sse2 == 2;
}

void ChooseChecksumPath(int vectorAllowed)
{
    g_checksumPath = vectorAllowed && HasSse2() ? SumFlippedSse2 : SumFlipped;
}

uint32_t PayloadChecksum(const unsigned char *bytes, int32_t length)
{
    if (length < 1)
        return (uint32_t)length;

    uint32_t n = (uint32_t)length;
    uint32_t flipped = (g_checksumPath != NULL ? g_checksumPath : SumFlipped)(bytes, n);

    return flipped - n * 128u + n;
}
