#include "icon/emblem.h"

#include <stdlib.h>
#include <string.h>

#include "icon/decoders.h"
#include "util/util.h"

uint32_t emblem_colour(const uint8_t *rgb) {
    if (rgb[0] + rgb[1] + rgb[2] < VISIBLE_SUM) return 0;
    return 0xFF000000u | (uint32_t)rgb[0] << 16 | (uint32_t)rgb[1] << 8 | rgb[2];
}

// trunc(n * 1.2 + 0.5) and trunc(j / 1.2) in integers: equal for every n up to 2048 and every
// j below the stretched height, without depending on how 1.2 rounds in binary.
int emblem_stretched_height(int n) { return (12 * n + 5) / 10; }
int emblem_source_row(int j) { return 5 * j / 6; }

// First band of rows holding a visible pixel: rows f to e - 1. 0 when there is none.
static int emblem_band(const emblem_indexed *ix, const uint32_t *colours, int *f, int *e) {
    *f = -1;
    for (int y = 0; y < ix->height; y++) {
        const uint8_t *row = ix->index + (size_t)y * ix->stride;
        int visible = 0;
        for (int x = 0; x < ix->width && !visible; x++) visible = colours[row[x]] != 0;
        if (visible && *f < 0) *f = y;
        if (!visible && *f >= 0) {
            *e = y;
            return 1;
        }
    }
    *e = ix->height;
    return *f >= 0;
}

int emblem_render(const emblem_indexed *ix, emblem_picture *out) {
    uint32_t colours[256];
    for (int i = 0; i < 256; i++) colours[i] = emblem_colour(ix->palette + 3 * i);
    int first = 0, end = ix->height;
    int height = ix->height;
    if (ix->band) {
        if (!emblem_band(ix, colours, &first, &end)) return 0;
        height = emblem_stretched_height(end - first);
    }
    uint32_t *px = (uint32_t *)malloc((size_t)ix->width * (size_t)height * sizeof *px);
    if (!px) return 0;
    for (int j = 0; j < height; j++) {
        int y = ix->band ? first + emblem_source_row(j) : j;
        if (y > end - 1) y = end - 1;
        const uint8_t *row = ix->index + (size_t)y * ix->stride;
        uint32_t *dst = px + (size_t)j * ix->width;
        for (int x = 0; x < ix->width; x++) dst[x] = colours[row[x]];
    }
    out->width = ix->width;
    out->height = height;
    out->pixels = px;
    return 1;
}

static int emblem_try(const uint8_t *data, uint64_t size, emblem_indexed *ix, emblem_picture *out) {
    if (size < 12) return 0;
    // A PBM picture that fails, even for want of memory, still gets the animation test.
    if (memcmp(data, "FORM", 4) == 0 && memcmp(data + 8, "PBM ", 4) == 0 && pbm_decode(data, size, ix) &&
        emblem_render(ix, out))
        return 1;
    return fli_decode(data, size, ix) && emblem_render(ix, out);
}

int emblem_decode_indexed(const uint8_t *data, uint64_t size, emblem_indexed *ix, emblem_picture *out) {
    if (emblem_try(data, size, ix, out)) return 1;
    free(ix->index);
    ix->index = nullptr;
    setup_log("ERROR: %s", "game emblem picture not understood");
    return 0;
}

int emblem_decode(const uint8_t *data, uint64_t size, emblem_picture *out) {
    emblem_indexed ix;
    return emblem_decode_indexed(data, size, &ix, out);
}
