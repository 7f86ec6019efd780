// The first frame of an FLI (Animator) or FLC (Animator Pro) animation.
#include <string.h>

#include "icon/decoders.h"
#include "util/bytes.h"

enum {
    FLI_HEADER = 128,
    FLI_FRAME_HEADER = 16,
    FLI_CHUNK_HEADER = 6,
    FLI_MAGIC = 0xAF11,
    FLC_MAGIC = 0xAF12,
    FLC_PREFIX = 0xF100,
    FLI_COLOR_256 = 4,
    FLI_COLOR_64 = 11,
    FLI_BRUN = 15,
    FLI_COPY = 16,
};

// One sub-chunk: data from start up to end, where end = min(chunk offset + size, file size) and
// may lie before start when the stated size is below the header's 6 bytes.
struct fli_chunk {
    const uint8_t *file;
    uint64_t size;   // of the whole file
    uint64_t start;  // data
    uint64_t end;
};

static uint8_t fli_widen(uint8_t v, int six_bit) { return six_bit ? (uint8_t)((v << 2) | (v >> 4)) : v; }

// Data: 0 packet count (2), then packets: 0 entries to skip (1), 1 entries to set (1, 0 = 256),
// 2 colours of 3 bytes. A packet cut short by the chunk's end still moves the index to its target.
static void fli_colours(const fli_chunk *c, uint8_t *palette, int six_bit) {
    if (c->start + 2 > c->size) return;  // no packet count in the file
    unsigned packets = le16(c->file + c->start);
    uint64_t at = c->start + 2;
    uint32_t i = 0;
    for (unsigned p = 0; p < packets && at + 2 <= c->end; p++) {
        i += c->file[at];
        unsigned count = c->file[at + 1] ? c->file[at + 1] : 256;
        at += 2;
        uint32_t target = i + count;
        for (; i <= 255 && i < target && at + 3 <= c->end; i++, at += 3)
            for (int k = 0; k < 3; k++) palette[3 * i + k] = fli_widen(c->file[at + k], six_bit);
        i = target;
    }
}

// Every row in turn: 1 packet count (not used), then packets until the row is full: a signed
// count t, and for t >= 0 one byte written t times, for t < 0 the -t bytes to copy.
static void fli_brun(const fli_chunk *c, emblem_indexed *ix) {
    const uint8_t *f = c->file;
    uint64_t at = c->start;
    for (int y = 0; y < ix->height && at < c->end; y++) {
        at++;  // the packet count: rows end by their width instead
        uint8_t *row = ix->index + (size_t)y * ix->stride;
        int x = 0;
        while (x < ix->width && at < c->end) {
            int t = (int8_t)f[at];
            if (t >= 0) {
                // The byte of a repeat whose count ends the chunk is read past it, if the file has it.
                if (at + 1 >= c->size) return;
                uint8_t v = f[at + 1];
                for (int k = 0; k < t && x < ix->width; k++) row[x++] = v;
                at += 2;
            } else {
                at++;
                for (int k = 0; k < -t && x < ix->width && at < c->end; k++) row[x++] = f[at++];
            }
        }
    }
}

static void fli_copy(const fli_chunk *c, emblem_indexed *ix) {
    if (c->end <= c->start) return;
    uint64_t n = c->end - c->start, total = (uint64_t)ix->width * (uint64_t)ix->height;
    memcpy(ix->index, c->file + c->start, (size_t)(n < total ? n : total));
}

// An FLC may carry a prefix chunk (settings of the program that made it) between the header and
// the first frame; the frame then follows that chunk. Returns 0 when that frame's header is not in
// the file. Without a prefix chunk the frame is at 128, whatever its type word says.
static int fli_first_frame(const uint8_t *f, uint64_t size, uint64_t *frame) {
    *frame = FLI_HEADER;
    if (le16(f + FLI_HEADER + 4) != FLC_PREFIX) return 1;
    uint32_t skip = le32(f + FLI_HEADER);
    *frame = FLI_HEADER + (uint64_t)skip;
    return skip >= FLI_FRAME_HEADER && *frame + FLI_FRAME_HEADER <= size;
}

// Header (little-endian): 4 magic (2), 8 width (2), 10 height (2). Frame: 0 size (4), 6 sub-chunk
// count (2), 16 sub-chunks: 0 size (4, counting its own 6-byte header), 4 type (2), 6 data.
int fli_decode(const uint8_t *f, uint64_t size, emblem_indexed *ix) {
    if (size < FLI_HEADER + FLI_FRAME_HEADER) return 0;
    unsigned magic = le16(f + 4), width = le16(f + 8), height = le16(f + 10);
    if (magic != FLI_MAGIC && magic != FLC_MAGIC) return 0;
    if (width < 1 || width > FLI_MAX_SIDE || height < 1 || height > FLI_MAX_SIDE) return 0;
    uint64_t frame;
    if (!fli_first_frame(f, size, &frame)) return 0;
    if (!ix->alloc((int32_t)width, (int32_t)height, width)) return 0;
    memset(ix->palette, 0, sizeof ix->palette);
    ix->band = 1;

    uint64_t frame_end = frame + le32(f + frame);
    unsigned count = le16(f + frame + 6);
    uint64_t at = frame + FLI_FRAME_HEADER;
    for (unsigned k = 0; k < count; k++) {
        if (at + FLI_CHUNK_HEADER > size || at >= frame_end) break;
        uint32_t chunk_size = le32(f + at);
        unsigned type = le16(f + at + 4);
        uint64_t end = at + chunk_size;
        fli_chunk c = {f, size, at + FLI_CHUNK_HEADER, end < size ? end : size};
        switch (type) {
        case FLI_COLOR_256: fli_colours(&c, ix->palette, 0); break;
        case FLI_COLOR_64: fli_colours(&c, ix->palette, 1); break;
        case FLI_BRUN: fli_brun(&c, ix); break;
        case FLI_COPY: fli_copy(&c, ix); break;
        default: break;  // stamps, deltas and the rest: the first frame needs none of them
        }
        at = end;  // a size below 6 revisits bytes, but the sub-chunk count bounds the walk
    }
    return 1;
}
