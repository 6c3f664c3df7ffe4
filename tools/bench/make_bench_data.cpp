// Build tool for the benchmarks: writes a file of N pseudo-random bytes
// (the same bytes on every run), every byte value occurring.
//
//   make_bench_data OUTPUT N
#include <stdio.h>
#include <stdlib.h>
#include <stdint.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s OUTPUT N\n", argv[0]);
        return 2;
    }
    long n = strtol(argv[2], NULL, 10);
    FILE *f = fopen(argv[1], "wb");
    if (!f || n < 0) {
        perror(argv[1]);
        return 1;
    }
    uint32_t x = 0x2545F491u;
    static unsigned char buf[65536];
    while (n > 0) {
        long k = n < (long)sizeof(buf) ? n : (long)sizeof(buf);
        for (long i = 0; i < k; i++) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            buf[i] = (unsigned char)(x >> 24);
        }
        if (fwrite(buf, 1, (size_t)k, f) != (size_t)k) {
            perror(argv[1]);
            return 1;
        }
        n -= k;
    }
    return fclose(f) == 0 ? 0 : 1;
}
