// The bit reader and the canonical Huffman codes of a CHD: its hunk map's kinds (16 codes of up to
// 8 bits) and the "huff" codec's bytes (256 codes of up to 16 bits). No platform headers.
//
// Codes are canonical with the longest first: the codes of the greatest length count up from 0,
// and each shorter length starts at half of where the longer one ended. A code's lengths come as
//   rle:     a length in 3, 4 or 5 bits (for up to 7, 15 or more bits); 1 escapes: 1 again is a
//            length of 1, any other length is followed by a count - 3 of its repeats
//   huffman: a small code of 24 lengths first (the first length in 3 bits, the index - 1 where
//            the rest start in 3 bits, then 3 bits each until a 7), then each length + 1 in that
//            code, 0 standing for a run of the last length: 3 bits + 2, and past 8 more bits on
#pragma once
#include <stddef.h>
#include <stdint.h>

// Bits most significant first; past the end they read as zeros and the stream counts as overrun.
struct chd_bits {
    const uint8_t *p;
    size_t n;
    uint64_t pos;  // in bits
};

uint32_t chd_bits_read(chd_bits *b, int count);
int chd_bits_overrun(const chd_bits *b);

enum { HUFF_CODES_MAX = 256, HUFF_BITS_MAX = 16 };

struct chd_huffman {
    int codes, max_bits;
    uint8_t lengths[HUFF_CODES_MAX];
    uint16_t *lookup;  // 1 << max_bits entries: symbol << 5 | length for each prefix; 0 where none
};

// Reads the code's lengths (codes, max_bits and lookup set by the caller) and makes its table. 0
// when the lengths run over, are too long or do not make a whole code.
int huff_read_rle(chd_huffman *h, chd_bits *b);
int huff_read_huffman(chd_huffman *h, chd_bits *b);

// The next symbol; -1 for bits that no code begins with.
int huff_next(const chd_huffman *h, chd_bits *b);
