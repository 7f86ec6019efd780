// The CHD v5 container (layout in chd.h): the header, the hunk map decoded and checked whole when
// the file opens, metadata looked up on demand, and hunks read through a one-hunk cache.
#include "cdsrc/chd.h"

#include <stdlib.h>
#include <string.h>

#include "cdsrc/chd_codecs.h"
#include "cdsrc/chd_huffman.h"
#include "util/bytes.h"
#include "util/util.h"

// The kinds of a map entry, as the bit stream codes them. Kinds 0 to 3 name the header's codecs.
enum {
    KIND_NONE = 4,         // stored uncompressed
    KIND_SELF = 5,         // the same bytes as an earlier hunk (its number follows)
    KIND_PARENT = 6,       // a unit of the parent CHD (its number follows)
    KIND_RLE_SMALL = 7,    // the last kind 2 + (next code) more times
    KIND_RLE_LARGE = 8,    // the last kind 18 + 16 * (next code) + (the code after) more times
    KIND_SELF_0 = 9,       // the same hunk as the last self reference
    KIND_SELF_1 = 10,      // the hunk after it
    KIND_PARENT_SELF = 11, // the parent's unit at this hunk's own place
    KIND_PARENT_0 = 12,    // the last parent reference
    KIND_PARENT_1 = 13,    // the unit a hunk after it
    KIND_ZEROS = 14,       // an uncompressed CHD's hunk of offset 0: zeros (no code has it)
    MAP_CODES = 16,
    MAP_CODE_BITS = 8,
};

struct chd_hunk {
    uint64_t offset;  // in the file; for KIND_SELF the hunk whose bytes these are
    uint32_t length;
    uint16_t crc;
    uint8_t kind;     // a codec (0-3), KIND_NONE, KIND_SELF or KIND_ZEROS
};

struct chd_file {
    chd_io io;
    uint32_t codecs[4];
    uint64_t logical_bytes, meta_offset;
    uint32_t hunk_bytes, unit_bytes, hunk_count;
    chd_hunk *map;
    chd_codecs *decoders;
    uint8_t *hunk, *packed;  // the cached hunk, and a compressed one as read from the file
    int64_t cached;          // the hunk in hunk, -1 for none
    int64_t failed;          // the last hunk that could not be read (logged once)
};

// CRC-16 (polynomial 0x1021, from 0xFFFF, most significant bit first): the map's and the hunks'.
static uint16_t crc16(uint16_t crc, const uint8_t *p, size_t n) {
    static uint16_t table[256];
    if (!table[1])
        for (int i = 0; i < 256; i++) {
            uint16_t v = (uint16_t)(i << 8);
            for (int b = 0; b < 8; b++) v = (uint16_t)(v & 0x8000 ? v << 1 ^ 0x1021 : v << 1);
            table[i] = v;
        }
    for (size_t i = 0; i < n; i++) crc = (uint16_t)(crc << 8 ^ table[(crc >> 8 ^ p[i]) & 0xFF]);
    return crc;
}

static void say(char *why, size_t size, const char *text) { fmt_cut(why, size, "%s", text); }

static int read_exact(const chd_file *c, uint64_t pos, void *buf, uint32_t len) {
    return pos <= c->io.size && len <= c->io.size - pos && c->io.read(c->io.ctx, pos, buf, len);
}

static void put48(uint8_t *p, uint64_t v) {
    for (int i = 0; i < 6; i++) p[i] = (uint8_t)(v >> (40 - 8 * i));
}

// A compressed map: kinds first, then what each kind needs; every hunk in the file checked
// against its end, self references to earlier hunks only, and the CRC over the entries as
// 12 bytes each (kind, 24-bit length, 48-bit offset, CRC), references as they were coded.
static int read_compressed_map(chd_file *c, uint64_t map_offset, char *why, size_t why_size) {
    uint8_t h[CHD_MAP_HEADER];
    if (!read_exact(c, map_offset, h, sizeof h)) return say(why, why_size, "is damaged: its map lies past the end"), 0;
    uint32_t map_bytes = be32(h);
    uint64_t offset = (uint64_t)be16(h + 4) << 32 | be32(h + 6);
    uint16_t map_crc = be16(h + 10);
    int length_bits = h[12], self_bits = h[13], parent_bits = h[14];
    if (length_bits > 24 || self_bits > 32 || parent_bits > 32)
        return say(why, why_size, "is damaged: its map is not one"), 0;
    if (map_bytes > c->io.size - map_offset - sizeof h)
        return say(why, why_size, "is damaged: its map lies past the end"), 0;
    uint8_t *bits = (uint8_t *)malloc(map_bytes ? map_bytes : 1);
    if (!bits) return say(why, why_size, "cannot be read: not enough memory"), 0;
    int ok = read_exact(c, map_offset + sizeof h, bits, map_bytes);
    chd_bits b = {bits, map_bytes, 0};
    uint16_t table[1 << MAP_CODE_BITS];
    chd_huffman code;
    code.codes = MAP_CODES;
    code.max_bits = MAP_CODE_BITS;
    code.lookup = table;
    if (!ok || !huff_read_rle(&code, &b)) {
        free(bits);
        return say(why, why_size, "is damaged: its map is not one"), 0;
    }
    uint8_t last = 0;
    uint32_t repeat = 0;
    for (uint32_t i = 0; i < c->hunk_count && ok; i++) {
        if (repeat) {
            c->map[i].kind = last;
            repeat--;
            continue;
        }
        int k = huff_next(&code, &b);
        if (k == KIND_RLE_SMALL) {
            int n = huff_next(&code, &b);
            repeat = 2 + (uint32_t)n;
            ok = n >= 0;
        } else if (k == KIND_RLE_LARGE) {
            int hi = huff_next(&code, &b), lo = huff_next(&code, &b);
            repeat = 18 + ((uint32_t)hi << 4) + (uint32_t)lo;
            ok = hi >= 0 && lo >= 0;
        } else {
            last = (uint8_t)k;
            ok = k >= 0;
        }
        c->map[i].kind = last;
    }
    uint16_t crc = 0xFFFF;
    uint64_t last_self = 0, last_parent = 0;
    int parent = 0;
    for (uint32_t i = 0; i < c->hunk_count && ok; i++) {
        chd_hunk *e = &c->map[i];
        uint64_t at = offset;
        uint32_t length = 0, hunk_crc = 0;
        switch (e->kind) {
        case 0: case 1: case 2: case 3:
            length = chd_bits_read(&b, length_bits);
            hunk_crc = chd_bits_read(&b, 16);
            offset += length;
            ok = c->codecs[e->kind] != 0 && length <= c->hunk_bytes;
            break;
        case KIND_NONE:
            length = c->hunk_bytes;
            hunk_crc = chd_bits_read(&b, 16);
            offset += length;
            break;
        case KIND_SELF:
            at = last_self = chd_bits_read(&b, self_bits);
            break;
        case KIND_SELF_1:
            last_self++;
            // fall through
        case KIND_SELF_0:
            e->kind = KIND_SELF;
            at = last_self;
            break;
        case KIND_PARENT:
            at = last_parent = chd_bits_read(&b, parent_bits);
            parent = 1;
            break;
        case KIND_PARENT_1:
            last_parent += c->hunk_bytes / c->unit_bytes;
            // fall through
        case KIND_PARENT_0:
            e->kind = KIND_PARENT;
            at = last_parent;
            parent = 1;
            break;
        case KIND_PARENT_SELF:
            e->kind = KIND_PARENT;
            at = last_parent = (uint64_t)i * c->hunk_bytes / c->unit_bytes;
            parent = 1;
            break;
        default:
            ok = 0;
        }
        uint8_t entry[12] = {e->kind, (uint8_t)(length >> 16), (uint8_t)(length >> 8), (uint8_t)length};
        put48(entry + 4, at);
        entry[10] = (uint8_t)(hunk_crc >> 8);
        entry[11] = (uint8_t)hunk_crc;
        crc = crc16(crc, entry, sizeof entry);
        e->offset = at;
        e->length = length;
        e->crc = (uint16_t)hunk_crc;
    }
    free(bits);
    if (!ok || chd_bits_overrun(&b)) return say(why, why_size, "is damaged: its map is not one"), 0;
    if (parent) return say(why, why_size, "needs its parent CHD: it holds only what differs from another one"), 0;
    // Where the hunks lie is told before the CRC: it says more about a file cut short.
    for (uint32_t i = 0; i < c->hunk_count; i++) {
        const chd_hunk *e = &c->map[i];
        if (e->kind != KIND_SELF && (e->offset > c->io.size || e->length > c->io.size - e->offset))
            return say(why, why_size, "is damaged: its map points past the end of the file"), 0;
    }
    if (crc != map_crc) return say(why, why_size, "is damaged: its map is not one"), 0;
    for (uint32_t i = 0; i < c->hunk_count; i++) {
        chd_hunk *e = &c->map[i];
        if (e->kind != KIND_SELF) continue;
        // A reference to a later hunk, or to itself, could loop; chdman only looks back.
        if (e->offset >= i) return say(why, why_size, "is damaged: its map is not one"), 0;
        *e = c->map[e->offset];  // already resolved, so never a reference itself
    }
    return 1;
}

// An uncompressed map: an offset in hunks a hunk, 0 for zeros.
static int read_plain_map(chd_file *c, uint64_t map_offset, char *why, size_t why_size) {
    if (map_offset > c->io.size || (uint64_t)c->hunk_count * 4 > c->io.size - map_offset)
        return say(why, why_size, "is damaged: its map lies past the end"), 0;
    uint8_t *raw = (uint8_t *)malloc((size_t)c->hunk_count * 4 + 1);
    if (!raw) return say(why, why_size, "cannot be read: not enough memory"), 0;
    int ok = read_exact(c, map_offset, raw, c->hunk_count * 4);
    for (uint32_t i = 0; i < c->hunk_count && ok; i++) {
        chd_hunk *e = &c->map[i];
        e->offset = (uint64_t)be32(raw + 4 * (size_t)i) * c->hunk_bytes;
        e->length = c->hunk_bytes;
        e->kind = e->offset ? KIND_NONE : KIND_ZEROS;
        if (e->offset > c->io.size || e->length > c->io.size - e->offset) {
            free(raw);
            return say(why, why_size, "is damaged: its map points past the end of the file"), 0;
        }
    }
    free(raw);
    if (!ok) say(why, why_size, "is damaged: its map lies past the end");
    return ok;
}

static int read_header(chd_file *c, uint64_t *map_offset, char *why, size_t why_size) {
    uint8_t h[CHD_HEADER];
    if (!read_exact(c, 0, h, 16) || memcmp(h, "MComprHD", 8) != 0)
        return say(why, why_size, "is not a CHD file"), 0;
    if (be32(h + 12) != 5) return fmt_cut(why, why_size, "is a CHD of version %u: only version 5 is read", be32(h + 12)), 0;
    if (be32(h + 8) != CHD_HEADER || !read_exact(c, 0, h, sizeof h))
        return say(why, why_size, "is damaged: its header is cut short"), 0;
    static const uint8_t no_parent[20] = {0};
    if (memcmp(h + 104, no_parent, sizeof no_parent) != 0)
        return say(why, why_size, "needs its parent CHD: it holds only what differs from another one"), 0;
    for (int i = 0; i < 4; i++) {
        c->codecs[i] = be32(h + 16 + 4 * i);
        if (c->codecs[i] && !chd_codec_known(c->codecs[i])) {
            char tag[5] = {(char)h[16 + 4 * i], (char)h[17 + 4 * i], (char)h[18 + 4 * i], (char)h[19 + 4 * i], 0};
            for (int k = 0; k < 4; k++)
                if (tag[k] < 0x20 || tag[k] > 0x7E) tag[k] = '?';
            return fmt_cut(why, why_size, "is compressed with \"%s\", which this setup does not read", tag), 0;
        }
    }
    c->logical_bytes = be64(h + 32);
    *map_offset = be64(h + 40);
    c->meta_offset = be64(h + 48);
    c->hunk_bytes = be32(h + 56);
    c->unit_bytes = be32(h + 60);
    if (!c->hunk_bytes || c->hunk_bytes > CHD_HUNK_MAX || !c->unit_bytes || c->hunk_bytes % c->unit_bytes ||
        c->logical_bytes > CHD_LOGICAL_MAX || c->logical_bytes / c->hunk_bytes >= CHD_HUNKS_MAX)
        return say(why, why_size, "is damaged: its header is not one"), 0;
    c->hunk_count = (uint32_t)((c->logical_bytes + c->hunk_bytes - 1) / c->hunk_bytes);
    return 1;
}

int chd_open(const chd_io *io, chd_file **out, char *why, size_t why_size) {
    *out = NULL;
    chd_file *c = (chd_file *)calloc(1, sizeof *c);
    if (!c) return say(why, why_size, "cannot be read: not enough memory"), 0;
    c->io = *io;
    c->cached = c->failed = -1;
    uint64_t map_offset;
    int ok = read_header(c, &map_offset, why, why_size);
    if (ok) {
        c->map = (chd_hunk *)calloc(c->hunk_count ? c->hunk_count : 1, sizeof *c->map);
        c->hunk = (uint8_t *)malloc(c->hunk_bytes);
        c->packed = (uint8_t *)malloc(c->hunk_bytes);
        c->decoders = chd_codecs_new(c->hunk_bytes);
        ok = c->map && c->hunk && c->packed && c->decoders;
        if (!ok) say(why, why_size, "cannot be read: not enough memory");
    }
    if (ok)
        ok = c->codecs[0] ? read_compressed_map(c, map_offset, why, why_size)
                          : read_plain_map(c, map_offset, why, why_size);
    if (!ok) {
        chd_close(c);
        return 0;
    }
    *out = c;
    return 1;
}

void chd_close(chd_file *c) {
    if (!c) return;
    chd_codecs_free(c->decoders);
    free(c->map);
    free(c->hunk);
    free(c->packed);
    free(c);
}

uint32_t chd_hunk_bytes(const chd_file *c) { return c->hunk_bytes; }
uint32_t chd_unit_bytes(const chd_file *c) { return c->unit_bytes; }
uint64_t chd_logical_bytes(const chd_file *c) { return c->logical_bytes; }

static const uint8_t *hunk_failed(chd_file *c, uint32_t hunk, const char *what) {
    c->cached = -1;
    if (c->failed != hunk) setup_log("CHD hunk %u: %s", hunk, what);
    c->failed = hunk;
    return NULL;
}

const uint8_t *chd_read_hunk(chd_file *c, uint32_t hunk) {
    if (hunk >= c->hunk_count) return NULL;
    if (c->cached == hunk) return c->hunk;
    const chd_hunk *e = &c->map[hunk];
    if (e->kind == KIND_ZEROS) {
        memset(c->hunk, 0, c->hunk_bytes);
    } else if (e->kind == KIND_NONE && c->codecs[0] == 0) {
        // An uncompressed CHD keeps no CRC of its hunks.
        if (!read_exact(c, e->offset, c->hunk, c->hunk_bytes)) return hunk_failed(c, hunk, "cannot be read");
    } else {
        uint8_t *to = e->kind == KIND_NONE ? c->hunk : c->packed;
        if (!read_exact(c, e->offset, to, e->length)) return hunk_failed(c, hunk, "cannot be read");
        if (e->kind != KIND_NONE && !chd_decompress(c->decoders, c->codecs[e->kind], c->packed, e->length, c->hunk))
            return hunk_failed(c, hunk, "cannot be decompressed");
        if (crc16(0xFFFF, c->hunk, c->hunk_bytes) != e->crc) return hunk_failed(c, hunk, "does not match its CRC");
    }
    c->cached = hunk;
    return c->hunk;
}

int chd_metadata(chd_file *c, uint32_t tag, uint32_t index, uint8_t *buf, uint32_t size, uint32_t *len) {
    uint64_t at = c->meta_offset;
    for (uint32_t walked = 0; at && walked < (uint32_t)CHD_META_ENTRIES; walked++) {
        uint8_t h[CHD_META_HEADER];
        if (!read_exact(c, at, h, sizeof h)) return 0;
        uint32_t n = be32(h + 4) & 0xFFFFFF;
        if (be32(h) == tag && index-- == 0) {
            *len = n;
            return read_exact(c, at + sizeof h, buf, n < size ? n : size);
        }
        at = be64(h + 8);
    }
    return 0;
}
