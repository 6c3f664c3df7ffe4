/* Bounded string building. Every composed path and message goes through
   these: a result that does not fit is refused (return 0, empty buffer),
   never cut short. */
#ifndef SKYRIFT_TEXT_H
#define SKYRIFT_TEXT_H

#include <stddef.h>

/* dst = a + b + c (b and c may be NULL; a may be dst itself, to append);
   1 if it fits in cap bytes. */
int JoinText(char *dst, size_t cap, const char *a, const char *b, const char *c);

/* The length of s, looking at no more than cap bytes: cap when s has no
   terminator among them. */
size_t TextLength(const char *s, size_t cap);

#endif
