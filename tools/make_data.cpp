// Build tool for the tests and benchmarks, compiled for the build machine:
// files of made-up bytes (the same on every run), and files in the
// platform's compressed form (the "SZDD" files of COMPRESS.EXE, which the
// expand-copy of LZ32 expands).
//
//   make_data OUTPUT N            N pseudo-random bytes, every value occurring
//   make_data OUTPUT N letters    N bytes of 'a' to 'p' (that compress well)
//   make_data --szdd INPUT OUTPUT INPUT in the compressed form
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <stdint.h>
#include <vector>

static int Made(const char *path, long n, bool letters)
{
    FILE *f = fopen(path, "wb");
    if (!f || n < 0) {
        perror(path);
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
            buf[i] = letters ? (unsigned char)('a' + (x >> 28)) : (unsigned char)(x >> 24);
        }
        if (fwrite(buf, 1, (size_t)k, f) != (size_t)k) {
            perror(path);
            return 1;
        }
        n -= k;
    }
    return fclose(f) == 0 ? 0 : 1;
}

// The compressed form: a header ("SZDD", 88 F0 27 33, mode 'A', the name's
// replaced last character or 0, the expanded length), then groups of eight
// items behind a byte of flags, lowest bit first: 1 a literal byte, 0 a
// reference of two bytes to 3 to 18 bytes seen before in a ring of 4096
// bytes (filled with spaces at the start, written from 4096 - 16 on), its
// 12-bit place in the ring in the low byte and the high nibble of the
// second, the length less 3 in the low nibble. Greedy: the longest match
// at the last place the next three bytes were seen.
static std::vector<unsigned char> Compressed(const std::vector<unsigned char> &in)
{
    std::vector<unsigned char> out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 0};
    for (int i = 0; i < 4; i++)
        out.push_back((unsigned char)(in.size() >> (8 * i)));
    std::vector<long> last(1 << 12, -1);
    size_t flags = 0;
    int items = 8;
    for (size_t p = 0; p < in.size();) {
        if (items == 8) {
            flags = out.size();
            out.push_back(0);
            items = 0;
        }
        size_t len = 0, from = 0;
        if (p + 3 <= in.size()) {
            unsigned h = (in[p] * 31u * 31u + in[p + 1] * 31u + in[p + 2]) & 0xFFF;
            long q = last[h];
            last[h] = (long)p;
            // a distance that leaves the bytes read unwritten until read
            if (q >= 0 && p - (size_t)q <= 4096 - 18)
                while (len < 18 && p + len < in.size() && in[(size_t)q + len] == in[p + len])
                    len++;
            from = (size_t)q;
        }
        if (len >= 3) {
            unsigned ring = (unsigned)((from + 4096 - 16) & 0xFFF);
            out.push_back((unsigned char)ring);
            out.push_back((unsigned char)((ring >> 4 & 0xF0) | (len - 3)));
            p += len;
        } else {
            out[flags] |= (unsigned char)(1 << items);
            out.push_back(in[p++]);
        }
        items++;
    }
    return out;
}

static int Compress(const char *from, const char *to)
{
    FILE *f = fopen(from, "rb");
    std::vector<unsigned char> in;
    unsigned char buf[65536];
    size_t n;
    if (!f) {
        perror(from);
        return 1;
    }
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        in.insert(in.end(), buf, buf + n);
    fclose(f);
    std::vector<unsigned char> out = Compressed(in);
    FILE *g = fopen(to, "wb");
    if (!g || fwrite(out.data(), 1, out.size(), g) != out.size() || fclose(g) != 0) {
        perror(to);
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && !strcmp(argv[1], "--szdd"))
        return Compress(argv[2], argv[3]);
    if (argc == 3 || (argc == 4 && !strcmp(argv[3], "letters")))
        return Made(argv[1], strtol(argv[2], NULL, 10), argc == 4);
    fprintf(stderr, "usage: %s OUTPUT N [letters] | --szdd INPUT OUTPUT\n", argv[0]);
    return 2;
}
