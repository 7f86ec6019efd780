// Byte-order readers and a bounded cursor: every format parser reads file bytes through here.
#pragma once
#include <stddef.h>
#include <stdint.h>

static inline uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }
static inline uint32_t le32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static inline uint16_t be16(const uint8_t *p) { return (uint16_t)(p[0] << 8 | p[1]); }
static inline uint32_t be32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}
static inline uint64_t be64(const uint8_t *p) { return (uint64_t)be32(p) << 32 | be32(p + 4); }

static inline void put_le16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
static inline void put_le32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}

// Bounded cursor: a read past the end returns 0 and clears the sticky ok flag.
struct rd {
    const uint8_t *p;
    size_t n, pos;
    int ok;
};

static inline rd rd_make(const uint8_t *p, size_t n) { rd r = {p, n, 0, 1}; return r; }

// Compares with what is left, so pos + k cannot overflow.
static inline int rd_need(rd *r, size_t k) {
    if (!r->ok || r->pos > r->n || k > r->n - r->pos) { r->ok = 0; return 0; }
    return 1;
}
static inline int rd_skip(rd *r, size_t k) {
    if (!rd_need(r, k)) return 0;
    r->pos += k;
    return 1;
}
static inline uint8_t rd_u8(rd *r) {
    if (!rd_need(r, 1)) return 0;
    return r->p[r->pos++];
}
static inline uint16_t rd_le16(rd *r) {
    if (!rd_need(r, 2)) return 0;
    uint16_t v = le16(r->p + r->pos); r->pos += 2; return v;
}
static inline uint32_t rd_le32(rd *r) {
    if (!rd_need(r, 4)) return 0;
    uint32_t v = le32(r->p + r->pos); r->pos += 4; return v;
}
static inline uint16_t rd_be16(rd *r) {
    if (!rd_need(r, 2)) return 0;
    uint16_t v = be16(r->p + r->pos); r->pos += 2; return v;
}
static inline uint32_t rd_be32(rd *r) {
    if (!rd_need(r, 4)) return 0;
    uint32_t v = be32(r->p + r->pos); r->pos += 4; return v;
}
static inline uint64_t rd_be64(rd *r) {
    if (!rd_need(r, 8)) return 0;
    uint64_t v = be64(r->p + r->pos); r->pos += 8; return v;
}
