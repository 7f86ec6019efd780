// Inside the title picture decoders: the index picture each format decodes into, and the step
// that turns it into an emblem_picture. Free of Windows headers, like the decoders themselves.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "icon/emblem.h"

enum {
    FLI_MAX_SIDE = 2048,
    // The format would allow 65,535 x 65,535. Title pictures are screen-sized; this bound keeps
    // the index picture at 4 MiB, its size computation far from overflow, and the icon canvas
    // small enough for 32-bit filter sums.
    PBM_MAX_SIDE = 2048,
    PALETTE_BYTES = 768,
    // A palette entry whose components sum below this is transparent.
    VISIBLE_SUM = 60,
};

// One palette index per pixel, before the colour rule.
struct emblem_indexed {
    int32_t width = 0, height = 0;
    size_t stride = 0;                   // bytes from one row to the next
    uint8_t *index = nullptr;            // stride * height bytes, zero where nothing was written
    uint8_t palette[PALETTE_BYTES] = {}; // r, g, b of entry i at 3 * i
    int band = 0;                        // 1: cut to the first band of visible rows, stretch by 1.2

    emblem_indexed() = default;
    ~emblem_indexed() { free(index); }
    emblem_indexed(const emblem_indexed &) = delete;
    void operator=(const emblem_indexed &) = delete;
    // Zero-filled; 0 when memory is short. Both sides are capped by the decoders, so row_bytes * h
    // cannot overflow. Here, not in emblem.cpp, so that the decoders need nothing of the module
    // that calls them.
    int alloc(int32_t w, int32_t h, size_t row_bytes) {
        free(index);
        index = (uint8_t *)calloc(row_bytes * (size_t)h, 1);
        width = w;
        height = h;
        stride = row_bytes;
        return index != nullptr;
    }
};

// Each returns 1 with ix filled, or 0 when the bytes are not a picture of its format. No logging.
int pbm_decode(const uint8_t *data, uint64_t size, emblem_indexed *ix);
int fli_decode(const uint8_t *data, uint64_t size, emblem_indexed *ix);

// The colour rule: 0, or the opaque pixel of the entry.
uint32_t emblem_colour(const uint8_t *rgb);
// Height of a band of n rows after the stretch, and the band row that output row j shows.
int emblem_stretched_height(int n);
int emblem_source_row(int j);
// Applies the colour rule (and for animations the band cut and stretch). 0: no visible row in an
// animation frame, or no memory for the pixels.
int emblem_render(const emblem_indexed *ix, emblem_picture *out);

// emblem_decode, also handing out the index picture that the result was made from.
int emblem_decode_indexed(const uint8_t *data, uint64_t size, emblem_indexed *ix, emblem_picture *out);
