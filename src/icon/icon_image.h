// The icon made from the title picture: crop to the visible pixels, a square transparent canvas
// with a small margin, an alpha-weighted box filter down to seven sizes, and the bytes of the
// seven RT_ICON images and the RT_GROUP_ICON that describes them. No Windows header: the resource
// update itself lives in inject.cpp.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "icon/emblem.h"

enum {
    ICON_COUNT = 7,
    ICON_DIB_HEADER = 40,   // BITMAPINFOHEADER
    ICON_GROUP_HEADER = 6,  // GRPICONDIR
    ICON_GROUP_ENTRY = 14,  // GRPICONDIRENTRY
    ICON_GROUP_BYTES = ICON_GROUP_HEADER + ICON_COUNT * ICON_GROUP_ENTRY,  // 104
    ICON_BITS = 32,
};

// The icon sizes; the image with resource id k has the side sizes[k - 1].
extern const int sizes[ICON_COUNT];

// The smallest box holding every pixel whose alpha is not 0.
struct icon_box {
    int x, y;  // its top left pixel in the picture
    int w, h;
};

// The box of pic's visible pixels; 0 when it has none.
int icon_bounds(const emblem_picture *pic, icon_box *box);
// The canvas side for a box: the longer side plus a sixteenth of it.
int icon_side(const icon_box *box);
// A side x side canvas, zero everywhere but the box, which lands at column (side - w) / 2 and row
// (side - h) / 2. malloc'd (the caller frees it); null when memory is short.
uint32_t *icon_canvas(const emblem_picture *pic, const icon_box *box, int *side);

// One target pixel from the canvas pixels x0 <= x < x1, y0 <= y < y1: the mean colour of the
// visible ones, with an alpha thinned by the transparent ones.
uint32_t icon_cell(const uint32_t *canvas, int side, int x0, int y0, int x1, int y1);
// Pixel (tx, ty) of the S x S icon, ty = 0 the top row.
uint32_t icon_pixel(const uint32_t *canvas, int side, int S, int tx, int ty);

// Bytes of the RT_ICON image of side S: header, colour bitmap, mask.
size_t icon_image_size(int S);
// Writes the image of side S into image (icon_image_size(S) bytes, all of which are written).
void icon_image_fill(const uint32_t *canvas, int side, int S, uint8_t *image);
// Writes the RT_GROUP_ICON data describing images 1 to ICON_COUNT.
void icon_group_fill(uint8_t group[ICON_GROUP_BYTES]);

// The seven images and the group, all allocated before anything is written into the executable.
struct icon_set {
    uint8_t *image[ICON_COUNT] = {};  // resource id k is image[k - 1]
    size_t size[ICON_COUNT] = {};
    uint8_t group[ICON_GROUP_BYTES] = {};

    icon_set() = default;
    ~icon_set();
    icon_set(const icon_set &) = delete;
    void operator=(const icon_set &) = delete;
};

// Builds the whole set from the picture, taking its pixels: they are freed (and pic->pixels set
// to null) on every path, as soon as the canvas holds the box. Returns 1, or 0 after logging
// "ERROR: game emblem picture is empty" or, when memory is short, "ERROR: cannot update the game
// executable's icon" (the line of a failed resource update: the executable is left as it was).
int icon_set_build(emblem_picture *pic, icon_set *set);
