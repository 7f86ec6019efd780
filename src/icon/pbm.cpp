// IFF "PBM " pictures: one byte per pixel, as DeluxePaint-style programs save them on the PC.
#include <string.h>

#include "icon/decoders.h"
#include "util/bytes.h"

enum { PBM_HEADER = 12, CHUNK_HEADER = 8, PBM_MIN_LIMIT = 20, PBM_BYTERUN1 = 1 };

// ByteRun1 over the whole index picture: the BODY is one stream and a run may go on into the
// next row. body_len is the BODY's stated length cut to the bytes present; avail counts the bytes
// present from the BODY's start, which the byte of a final repeat may reach past the BODY.
static void pbm_byterun1(const uint8_t *body, size_t body_len, size_t avail, uint8_t *dst, size_t total) {
    size_t in = 0, out = 0;
    while (out < total && in < body_len) {
        uint8_t n = body[in++];
        if (n < 128) {
            for (int k = 0; k <= n; k++) {
                if (out >= total || in >= body_len) return;
                dst[out++] = body[in++];
            }
        } else if (n > 128) {
            if (in >= avail) return;
            uint8_t v = body[in++];
            for (int k = 0; k < 257 - n; k++) {
                if (out >= total) return;
                dst[out++] = v;
            }
        }
    }
}

// Layout (big-endian): 0 "FORM", 4 FORM length, 8 "PBM ", 12 chunks: 4 identifier, 4 length, the
// data, one fill byte after odd lengths. BMHD data: 0 width (2), 2 height (2), 10 compression (1).
// CMAP data: r, g, b per entry. BODY data: rows of the width rounded up to even.
int pbm_decode(const uint8_t *data, uint64_t size, emblem_indexed *ix) {
    if (size < PBM_HEADER || memcmp(data, "FORM", 4) != 0 || memcmp(data + 8, "PBM ", 4) != 0) return 0;
    // A FORM length from 0xFFFFFFF8 up wraps to a limit below 8, as 32-bit writers would read it.
    uint64_t limit = (uint32_t)(be32(data + 4) + 8);
    if (limit > size) limit = size;
    if (limit < PBM_MIN_LIMIT) return 0;

    unsigned width = 0, height = 0, compression = 0;
    const uint8_t *cmap = nullptr, *body = nullptr;
    size_t cmap_avail = 0, body_len = 0, body_avail = 0;
    // Only chunk headers are held to the limit; an oversized length just ends the walk.
    for (uint64_t at = PBM_HEADER; at + CHUNK_HEADER <= limit;) {
        uint32_t len = be32(data + at + 4);
        uint64_t start = at + CHUNK_HEADER;
        size_t avail = (size_t)(size - start);  // start <= limit <= size
        if (memcmp(data + at, "BMHD", 4) == 0) {
            rd r = rd_make(data + start, avail);  // fields past the file's end read as 0
            width = rd_be16(&r);
            height = rd_be16(&r);
            rd_skip(&r, 6);
            compression = rd_u8(&r);
        } else if (memcmp(data + at, "CMAP", 4) == 0) {
            cmap = data + start;
            cmap_avail = avail;
        } else if (memcmp(data + at, "BODY", 4) == 0) {
            body = data + start;
            body_avail = avail;
            body_len = len < avail ? len : avail;
        }
        at = start + len + (len & 1);
    }
    if (!width || !height || !cmap || !body) return 0;
    if (width > PBM_MAX_SIDE || height > PBM_MAX_SIDE) return 0;

    size_t stride = (width + 1) & ~1u;
    if (!ix->alloc((int32_t)width, (int32_t)height, stride)) return 0;
    size_t total = stride * height;
    if (compression == PBM_BYTERUN1) {
        pbm_byterun1(body, body_len, body_avail, ix->index, total);
    } else {
        memcpy(ix->index, body, body_len < total ? body_len : total);
    }
    // The palette is read in place, all 256 entries whatever the CMAP's length; entries past the
    // file's end stay black.
    memset(ix->palette, 0, sizeof ix->palette);
    memcpy(ix->palette, cmap, cmap_avail < sizeof ix->palette ? cmap_avail : sizeof ix->palette);
    ix->band = 0;
    return 1;
}
