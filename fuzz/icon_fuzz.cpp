// The icon from a decoded picture: bounding box, canvas, the box filter to seven sizes, the icon
// images and their group, each checked against the layout and arithmetic it must follow.
//
// Input: the sides as two little-endian 16-bit values v: the low 11 bits (width - 1) or 12 bits
// (height - 1, modulo 2458), shifted right by the top 4 bits, so that small pictures come as often
// as large ones, up to the largest a decoder gives (2048 columns, 2458 rows); then visible pixels
// of 7 bytes each: x, y (16-bit, modulo the sides) and red, green, blue. Every other pixel is
// transparent, as in every decoded picture.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "icon/decoders.h"
#include "icon/icon_image.h"
#include "util/bytes.h"

enum { MAX_ROWS = (12 * FLI_MAX_SIDE + 5) / 10, PIXEL_BYTES = 7, FULL_CHECK_SIDE = 600, SAMPLE_STEP = 8 };

// Large canvases cost seconds to check whole under the sanitizers: their rows are checked every
// SAMPLE_STEP rows, and around the box's edges, instead.
static int checked_row(int y, int rows, int side, int edge0, int edge1) {
    return side <= FULL_CHECK_SIDE || y % SAMPLE_STEP == 0 || y == rows - 1 || (y >= edge0 - 1 && y <= edge0) ||
           (y >= edge1 - 1 && y <= edge1);
}

// The filter as written down, independently of icon_image.cpp: 32-bit sums suffice for canvases
// up to 4,096 pixels a side, and the decoders keep them below 2,612.
static uint32_t reference_pixel(const uint32_t *canvas, int side, int S, int tx, int ty) {
    int y0 = ty * side / S, y1 = (ty + 1) * side / S;
    if (y1 <= y0) y1 = y0 + 1;
    int x0 = tx * side / S, x1 = (tx + 1) * side / S;
    if (x1 <= x0) x1 = x0 + 1;
    uint32_t sa = 0, sr = 0, sg = 0, sb = 0, cells = (uint32_t)((y1 - y0) * (x1 - x0));
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            uint32_t p = canvas[(size_t)y * side + x], a = p >> 24;
            sa += a;
            sr += (p >> 16 & 0xFF) * a;
            sg += (p >> 8 & 0xFF) * a;
            sb += (p & 0xFF) * a;
        }
    if (sa == 0) return 0;
    return (sa / cells) << 24 | (sr / sa) << 16 | (sg / sa) << 8 | (sb / sa);
}

static void check_box(const emblem_picture *pic, const icon_box *b) {
    int x0 = pic->width, y0 = pic->height, x1 = -1, y1 = -1;
    for (int y = 0; y < pic->height; y++)
        for (int x = 0; x < pic->width; x++)
            if (pic->pixels[(size_t)y * pic->width + x] >> 24) {
                if (x < x0) x0 = x;
                if (x > x1) x1 = x;
                if (y < y0) y0 = y;
                if (y > y1) y1 = y;
            }
    FUZZ_CHECK(b->x == x0 && b->y == y0 && b->w == x1 - x0 + 1 && b->h == y1 - y0 + 1,
               "box %d,%d %dx%d for %d..%d, %d..%d", b->x, b->y, b->w, b->h, x0, x1, y0, y1);
}

static void check_canvas(const emblem_picture *pic, const icon_box *b, const uint32_t *canvas, int side) {
    int s0 = b->w > b->h ? b->w : b->h;
    FUZZ_CHECK(side == s0 + s0 / 16, "side %d for a box of %dx%d", side, b->w, b->h);
    int cx = (side - b->w) / 2, cy = (side - b->h) / 2;
    for (int y = 0; y < side; y++) {
        if (!checked_row(y, side, side, cy, cy + b->h)) continue;
        for (int x = 0; x < side; x++) {
            int inside = x >= cx && x < cx + b->w && y >= cy && y < cy + b->h;
            uint32_t want = inside ? pic->pixels[(size_t)(b->y + y - cy) * pic->width + b->x + x - cx] : 0;
            FUZZ_CHECK(canvas[(size_t)y * side + x] == want, "canvas pixel %d,%d", x, y);
        }
    }
}

static void check_set(const icon_set *set, const uint32_t *canvas, int side) {
    for (int k = 0; k < ICON_COUNT; k++) {
        int S = sizes[k];
        size_t mask_row = (size_t)(S + 31) / 32 * 4;
        const uint8_t *img = set->image[k];
        FUZZ_CHECK(set->size[k] == ICON_DIB_HEADER + 4 * (size_t)S * S + S * mask_row, "image %d: %zu bytes", k + 1,
                   set->size[k]);
        FUZZ_CHECK(le32(img) == 40 && le32(img + 4) == (uint32_t)S && le32(img + 8) == 2 * (uint32_t)S &&
                       le16(img + 12) == 1 && le16(img + 14) == 32,
                   "image %d: header", k + 1);
        for (int i = 16; i < ICON_DIB_HEADER; i++) FUZZ_CHECK(img[i] == 0, "image %d: header byte %d", k + 1, i);
        for (int ty = 0; ty < S; ty++) {
            if (!checked_row(ty, S, side, 0, 0)) continue;
            for (int tx = 0; tx < S; tx++) {
                uint32_t got = le32(img + ICON_DIB_HEADER + ((size_t)(S - 1 - ty) * S + tx) * 4);
                uint32_t want = reference_pixel(canvas, side, S, tx, ty);
                FUZZ_CHECK(got == want, "size %d pixel %d,%d: %08x, not %08x", S, tx, ty, got, want);
            }
        }
        for (size_t i = ICON_DIB_HEADER + 4 * (size_t)S * S; i < set->size[k]; i++)
            FUZZ_CHECK(img[i] == 0, "image %d: mask byte %zu", k + 1, i);
        const uint8_t *e = set->group + ICON_GROUP_HEADER + ICON_GROUP_ENTRY * k;
        FUZZ_CHECK(e[0] == (S == 256 ? 0 : S) && e[1] == e[0] && e[2] == 0 && e[3] == 0 && le16(e + 4) == 1 &&
                       le16(e + 6) == 32 && le32(e + 8) == set->size[k] && le16(e + 12) == k + 1,
                   "group entry %d", k + 1);
    }
    FUZZ_CHECK(le16(set->group) == 0 && le16(set->group + 2) == 1 && le16(set->group + 4) == ICON_COUNT, "group header");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size < 4) return 0;
    emblem_picture pic;
    unsigned w = le16(data), h = le16(data + 2);
    pic.width = 1 + ((w & 0x7FF) >> (w >> 12));
    pic.height = 1 + ((h & 0xFFF) % MAX_ROWS >> (h >> 12));
    pic.pixels = (uint32_t *)calloc((size_t)pic.width * pic.height, sizeof *pic.pixels);
    for (size_t at = 4; at + PIXEL_BYTES <= size; at += PIXEL_BYTES) {
        const uint8_t *p = data + at;
        size_t x = le16(p) % pic.width, y = le16(p + 2) % pic.height;
        pic.pixels[y * pic.width + x] = 0xFF000000u | (uint32_t)p[4] << 16 | (uint32_t)p[5] << 8 | p[6];
    }

    icon_box box;
    int found = icon_bounds(&pic, &box);
    FUZZ_CHECK(found == (size >= 4 + PIXEL_BYTES), "bounds %d with %zu bytes of pixels", found, size - 4);
    std::vector<uint32_t> canvas;
    int side = 0;
    if (found) {
        check_box(&pic, &box);
        uint32_t *c = icon_canvas(&pic, &box, &side);
        FUZZ_CHECK(c != NULL, "no canvas");
        check_canvas(&pic, &box, c, side);
        canvas.assign(c, c + (size_t)side * side);
        free(c);
    }

    icon_set set;
    int built = icon_set_build(&pic, &set);
    FUZZ_CHECK(pic.pixels == NULL, "the picture's pixels kept");
    FUZZ_CHECK(built == found, "built %d for a picture with%s visible pixels", built, found ? "" : "out");
    if (built) check_set(&set, canvas.data(), side);
    return 0;
}
