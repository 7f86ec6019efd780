#include "icon/icon_image.h"

#include <stdlib.h>
#include <string.h>

#include "util/bytes.h"
#include "util/util.h"

const int sizes[ICON_COUNT] = {16, 24, 32, 48, 64, 128, 256};

static int icon_visible(uint32_t px) { return (px >> 24) != 0; }

int icon_bounds(const emblem_picture *pic, icon_box *box) {
    int x0 = pic->width, y0 = pic->height, x1 = -1, y1 = -1;
    for (int y = 0; y < pic->height; y++) {
        const uint32_t *row = pic->pixels + (size_t)y * pic->width;
        for (int x = 0; x < pic->width; x++) {
            if (!icon_visible(row[x])) continue;
            if (x < x0) x0 = x;
            if (x > x1) x1 = x;
            if (y < y0) y0 = y;
            y1 = y;
        }
    }
    if (x1 < 0) return 0;
    box->x = x0;
    box->y = y0;
    box->w = x1 - x0 + 1;
    box->h = y1 - y0 + 1;
    return 1;
}

// Pictures under 16 pixels get no margin.
int icon_side(const icon_box *box) {
    int s0 = box->w > box->h ? box->w : box->h;
    return s0 + s0 / 16;
}

uint32_t *icon_canvas(const emblem_picture *pic, const icon_box *box, int *side) {
    int s = icon_side(box);
    // The decoders cap both sides at 2048 (2458 rows after the stretch): s stays below 2612.
    uint32_t *canvas = (uint32_t *)calloc((size_t)s * (size_t)s, sizeof *canvas);
    if (!canvas) return NULL;
    int cx = (s - box->w) / 2, cy = (s - box->h) / 2;
    for (int r = 0; r < box->h; r++)
        memcpy(canvas + (size_t)(cy + r) * s + cx, pic->pixels + (size_t)(box->y + r) * pic->width + box->x,
               (size_t)box->w * sizeof *canvas);
    *side = s;
    return canvas;
}

// Sums are 64-bit: with 32 bits a cell of more than about 66,000 opaque pixels would overflow,
// which only a canvas above 4,096 pixels a side can hold, but nothing is lost by never allowing it.
uint32_t icon_cell(const uint32_t *canvas, int side, int x0, int y0, int x1, int y1) {
    uint64_t sa = 0, sr = 0, sg = 0, sb = 0;
    for (int y = y0; y < y1; y++) {
        const uint32_t *row = canvas + (size_t)y * side;
        for (int x = x0; x < x1; x++) {
            uint32_t px = row[x], a = px >> 24;
            sa += a;
            sr += (uint64_t)(px >> 16 & 0xFF) * a;
            sg += (uint64_t)(px >> 8 & 0xFF) * a;
            sb += (uint64_t)(px & 0xFF) * a;
        }
    }
    if (sa == 0) return 0;
    uint64_t cells = (uint64_t)(y1 - y0) * (uint64_t)(x1 - x0);
    return (uint32_t)(sa / cells) << 24 | (uint32_t)(sr / sa) << 16 | (uint32_t)(sg / sa) << 8 | (uint32_t)(sb / sa);
}

// Cells tile the canvas when it is at least as large as the icon; a smaller canvas gives every
// target pixel one canvas pixel, shared with its neighbours.
static void icon_span(int t, int side, int S, int *a, int *b) {
    *a = (int)((int64_t)t * side / S);
    *b = (int)((int64_t)(t + 1) * side / S);
    if (*b <= *a) *b = *a + 1;
}

uint32_t icon_pixel(const uint32_t *canvas, int side, int S, int tx, int ty) {
    int x0, x1, y0, y1;
    icon_span(tx, side, S, &x0, &x1);
    icon_span(ty, side, S, &y0, &y1);
    return icon_cell(canvas, side, x0, y0, x1, y1);
}

static size_t icon_mask_row(int S) { return (size_t)(S + 31) / 32 * 4; }

size_t icon_image_size(int S) { return ICON_DIB_HEADER + 4 * (size_t)S * S + (size_t)S * icon_mask_row(S); }

// Layout (little-endian): BITMAPINFOHEADER of 40 bytes (size 40, width S, height 2S for the colour
// bitmap and the mask together, 1 plane, 32 bits, BI_RGB, the rest 0); S rows of S pixels, bottom
// row first, bytes blue, green, red, alpha; S mask rows of icon_mask_row bytes, all 0.
void icon_image_fill(const uint32_t *canvas, int side, int S, uint8_t *image) {
    memset(image, 0, icon_image_size(S));
    put_le32(image, ICON_DIB_HEADER);
    put_le32(image + 4, (uint32_t)S);
    put_le32(image + 8, (uint32_t)(2 * S));
    put_le16(image + 12, 1);
    put_le16(image + 14, ICON_BITS);
    for (int ty = 0; ty < S; ty++) {
        uint8_t *row = image + ICON_DIB_HEADER + (size_t)(S - 1 - ty) * S * 4;
        for (int tx = 0; tx < S; tx++) put_le32(row + 4 * tx, icon_pixel(canvas, side, S, tx, ty));
    }
}

// Layout (little-endian): GRPICONDIR (reserved 0, type 1, count 7), then per image a
// GRPICONDIRENTRY of 14 bytes: width and height (0 for 256), colour count 0, reserved 0, planes 1,
// bits 32, image bytes (32-bit), resource id (16-bit).
void icon_group_fill(uint8_t group[ICON_GROUP_BYTES]) {
    memset(group, 0, ICON_GROUP_BYTES);
    put_le16(group + 2, 1);
    put_le16(group + 4, ICON_COUNT);
    for (int k = 1; k <= ICON_COUNT; k++) {
        uint8_t *e = group + ICON_GROUP_HEADER + ICON_GROUP_ENTRY * (k - 1);
        int S = sizes[k - 1];
        e[0] = e[1] = (uint8_t)(S == 256 ? 0 : S);
        put_le16(e + 4, 1);
        put_le16(e + 6, ICON_BITS);
        put_le32(e + 8, (uint32_t)icon_image_size(S));
        put_le16(e + 12, (uint16_t)k);
    }
}

icon_set::~icon_set() {
    for (uint8_t *p : image) free(p);
}

static int icon_no_memory(void) {
    setup_log("ERROR: %s", "cannot update the game executable's icon");
    return 0;
}

int icon_set_build(emblem_picture *pic, icon_set *set) {
    icon_box box;
    int found = icon_bounds(pic, &box);
    int side = 0;
    uint32_t *canvas = found ? icon_canvas(pic, &box, &side) : NULL;
    free(pic->pixels);
    pic->pixels = NULL;
    if (!found) {
        setup_log("ERROR: %s", "game emblem picture is empty");
        return 0;
    }
    if (!canvas) return icon_no_memory();
    for (int k = 0; k < ICON_COUNT; k++) {
        set->size[k] = icon_image_size(sizes[k]);
        set->image[k] = (uint8_t *)malloc(set->size[k]);
        if (!set->image[k]) {
            free(canvas);
            return icon_no_memory();
        }
        icon_image_fill(canvas, side, sizes[k], set->image[k]);
    }
    free(canvas);
    icon_group_fill(set->group);
    return 1;
}
