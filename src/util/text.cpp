#include "util/text.h"

#include <string.h>

// Bytes in the character that starts with lead: 0 for a byte that starts none (a continuation
// byte, or one that no UTF-8 text holds).
static size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

size_t text_whole(const char *text, size_t n) {
    // The last byte that is no continuation byte starts the last character; at most three
    // continuation bytes follow it in UTF-8, so the look back stops there.
    size_t k = n, back = 0;
    while (k > 0 && back < 3 && ((unsigned char)text[k - 1] & 0xC0) == 0x80) {
        k--;
        back++;
    }
    if (k == 0) return n;
    size_t need = sequence_length((unsigned char)text[k - 1]);
    return need > 1 && n - (k - 1) < need ? k - 1 : n;
}

int utf8_valid(const char *text, size_t n) {
    const unsigned char *p = (const unsigned char *)text, *end = p + n;
    while (p < end) {
        size_t len = sequence_length(*p);
        if (len == 0 || (size_t)(end - p) < len) return 0;
        for (size_t i = 1; i < len; i++)
            if ((p[i] & 0xC0) != 0x80) return 0;
        // The second byte's range rules out what the lead byte alone cannot: overlong three- and
        // four-byte forms, the surrogates (ED A0..BF) and values past U+10FFFF.
        if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] > 0x9F) || (p[0] == 0xF0 && p[1] < 0x90) ||
            (p[0] == 0xF4 && p[1] > 0x8F))
            return 0;
        p += len;
    }
    return 1;
}

int text_from_disc(const char *in, size_t n, char *out, size_t size) {
    const char *nul = (const char *)memchr(in, 0, n);
    if (nul) n = (size_t)(nul - in);
    if (!utf8_valid(in, n)) return text_from_ansi(in, n, out, size);
    if (n >= size) return 0;
    memcpy(out, in, n);
    out[n] = 0;
    return 1;
}
