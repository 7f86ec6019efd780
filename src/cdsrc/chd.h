// The container of a CHD file, version 5 ("compressed hunks of data"): its header, its hunk map,
// its metadata, and its hunks read one at a time through a one-hunk cache, each checked against
// its CRC. What the hunks hold is the caller's (a CD's frames: chd_cd.h). No platform headers: the
// file is read through chd_io, so the reader also builds natively.
//
// Header (124 bytes, big-endian): [0] "MComprHD", [8] header length 124, [12] version 5, [16] four
// codec tags (0 when unused), [32] logical bytes, [40] map offset, [48] first metadata offset,
// [56] hunk bytes, [60] unit bytes, [64] SHA-1 of the data, [84] SHA-1 of data and metadata,
// [104] SHA-1 of the parent (all zero when there is none).
//
// Map of an uncompressed CHD (codec 0 is 0): one 4-byte entry a hunk, its offset / hunk bytes, 0
// for a hunk of zeros. Map of a compressed CHD: [0] bytes of the bit stream, [4] 48-bit offset of
// the first compressed hunk, [10] CRC-16 of the decoded map, [12] bits of a length, [13] bits of a
// self reference, [14] bits of a parent reference, [16] the bit stream (most significant bit
// first): a Huffman table of 16 codes of up to 8 bits (lengths in 4 bits, 1 escaping a repeat),
// the hunks' kinds in that code with runs of the last kind, then per hunk what its kind needs (a
// length and a CRC-16, a CRC-16, a hunk number).
//
// Metadata entry: [0] tag, [4] flags, [5] 24-bit length, [8] offset of the next entry (0 ends the
// list), [16] the data.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/chd_tag.h"

enum {
    CHD_HEADER = 124,
    CHD_MAP_HEADER = 16,
    CHD_META_HEADER = 16,
    CHD_HUNK_MAX = 1 << 20,              // bytes of a hunk; chdman makes 19,584 for a CD
    CHD_LOGICAL_MAX = 0x80000000u,       // bytes of data: twice what the longest CD holds
    CHD_HUNKS_MAX = 1 << 20,             // hunks: a CD in hunks of one frame has 445,500 at most
    CHD_META_ENTRIES = 1024,             // entries walked before the list counts as a loop
};

// Reads len bytes at pos of the file; 1 when all were read.
struct chd_io {
    int (*read)(void *ctx, uint64_t pos, void *buf, uint32_t len);
    void *ctx;
    uint64_t size;  // bytes in the file
};

struct chd_file;

// Opens the container: header, map (every entry checked against the file) and codecs. 0 with the
// reason in why ("needs its parent CHD", "is damaged: ...", "is not a CHD ...") when it cannot be
// read; *out is then null.
int chd_open(const chd_io *io, chd_file **out, char *why, size_t why_size);
void chd_close(chd_file *c);

uint32_t chd_hunk_bytes(const chd_file *c);
uint32_t chd_unit_bytes(const chd_file *c);
uint64_t chd_logical_bytes(const chd_file *c);

// The hunk's bytes (chd_hunk_bytes of them), valid until the next read or chd_close. Null when it
// cannot be read, cannot be decompressed or does not match its CRC; the reason is logged once a
// hunk: "CHD hunk N: ...".
const uint8_t *chd_read_hunk(chd_file *c, uint32_t hunk);

// The data of the index-th metadata entry (from 0) with the tag, cut to size; *len is its whole
// length. 0 when there is no such entry or it cannot be read.
int chd_metadata(chd_file *c, uint32_t tag, uint32_t index, uint8_t *buf, uint32_t size, uint32_t *len);
