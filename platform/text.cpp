#include "text.h"

static int AppendText(char *dst, size_t cap, size_t *len, const char *src)
{
    if (src == NULL)
        return 1;
    for (; *src; src++) {
        if (*len + 1 >= cap)
            return 0;
        dst[(*len)++] = *src;
    }
    return 1;
}

int JoinText(char *dst, size_t cap, const char *a, const char *b, const char *c)
{
    size_t len = 0;

    if (cap == 0)
        return 0;
    if (!AppendText(dst, cap, &len, a) || !AppendText(dst, cap, &len, b) ||
        !AppendText(dst, cap, &len, c)) {
        dst[0] = '\0';
        return 0;
    }
    dst[len] = '\0';
    return 1;
}

size_t TextLength(const char *s, size_t cap)
{
    size_t len = 0;

    while (len < cap && s[len] != '\0')
        len++;
    return len;
}
