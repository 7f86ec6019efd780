// The bit reader and canonical Huffman codes of a CHD (chd_huffman.h).
#include "cdsrc/chd_huffman.h"

#include <string.h>

uint32_t chd_bits_read(chd_bits *b, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; i++, b->pos++) {
        uint64_t byte = b->pos >> 3;
        int bit = byte < b->n ? b->p[byte] >> (7 - (b->pos & 7)) & 1 : 0;
        v = v << 1 | (uint32_t)bit;
    }
    return v;
}

int chd_bits_overrun(const chd_bits *b) { return b->pos > (uint64_t)b->n * 8; }

// Canonical codes from the lengths, and the table of every max_bits prefix.
static int huff_build(chd_huffman *h) {
    uint32_t first[33] = {0}, count[33] = {0};
    for (int i = 0; i < h->codes; i++) {
        if (h->lengths[i] > h->max_bits) return 0;
        count[h->lengths[i]]++;
    }
    uint32_t start = 0;
    for (int len = 32; len > 0; len--) {
        uint32_t next = (start + count[len]) >> 1;
        if (len != 1 && next * 2 != start + count[len]) return 0;
        first[len] = start;
        start = next;
    }
    memset(h->lookup, 0, sizeof(uint16_t) << h->max_bits);
    for (int i = 0; i < h->codes; i++) {
        int len = h->lengths[i];
        if (!len) continue;
        uint32_t code = first[len]++;
        if (code >= 1u << len) return 0;
        int shift = h->max_bits - len;
        for (uint32_t k = 0; k < 1u << shift; k++) h->lookup[code << shift | k] = (uint16_t)(i << 5 | len);
    }
    return 1;
}

int huff_read_rle(chd_huffman *h, chd_bits *b) {
    int bits = h->max_bits >= 16 ? 5 : h->max_bits >= 8 ? 4 : 3;
    int n = 0;
    while (n < h->codes) {
        uint32_t len = chd_bits_read(b, bits);
        if (len != 1) {
            h->lengths[n++] = (uint8_t)len;
            continue;
        }
        len = chd_bits_read(b, bits);
        if (len == 1) {
            h->lengths[n++] = 1;
            continue;
        }
        uint32_t repeat = chd_bits_read(b, bits) + 3;
        if (repeat > (uint32_t)(h->codes - n)) return 0;
        while (repeat--) h->lengths[n++] = (uint8_t)len;
    }
    return !chd_bits_overrun(b) && huff_build(h);
}

int huff_read_huffman(chd_huffman *h, chd_bits *b) {
    uint16_t table[1 << 6];
    chd_huffman small;
    small.codes = 24;
    small.max_bits = 6;
    small.lookup = table;
    small.lengths[0] = (uint8_t)chd_bits_read(b, 3);
    uint32_t start = chd_bits_read(b, 3) + 1, last = 0;
    for (int i = 1; i < small.codes; i++) {
        if ((uint32_t)i < start || last == 7) {
            small.lengths[i] = 0;
            continue;
        }
        last = chd_bits_read(b, 3);
        small.lengths[i] = (uint8_t)(last == 7 ? 0 : last);
    }
    if (!huff_build(&small)) return 0;
    // The bits of a run's count past 7: enough for all codes but the 9 a short run covers.
    int run_bits = 0;
    for (uint32_t t = (uint32_t)h->codes - 9; t; t >>= 1) run_bits++;
    int n = 0;
    uint8_t len = 0;
    while (n < h->codes) {
        int v = huff_next(&small, b);
        if (v < 0) return 0;
        if (v) {
            h->lengths[n++] = len = (uint8_t)(v - 1);
            continue;
        }
        uint32_t repeat = chd_bits_read(b, 3) + 2;
        if (repeat == 9) repeat += chd_bits_read(b, run_bits);
        for (; repeat && n < h->codes; repeat--) h->lengths[n++] = len;
    }
    return !chd_bits_overrun(b) && huff_build(h);
}

int huff_next(const chd_huffman *h, chd_bits *b) {
    uint64_t at = b->pos;
    uint16_t e = h->lookup[chd_bits_read(b, h->max_bits)];
    if (!e) return -1;
    b->pos = at + (e & 31);
    return e >> 5;
}
