// The four-character tags of a CHD (codecs, metadata) as its header and its map store them: the
// characters' bytes big-endian in a 32-bit number.
#pragma once
#include <stdint.h>

static inline uint32_t chd_tag(const char *s) {
    return (uint32_t)(uint8_t)s[0] << 24 | (uint32_t)(uint8_t)s[1] << 16 | (uint32_t)(uint8_t)s[2] << 8 |
           (uint8_t)s[3];
}
