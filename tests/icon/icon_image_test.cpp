#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "icon/icon_image.h"
#include "import_swap.h"
#include "support.h"

// A picture the way emblem_decode hands it out: malloc'd pixels.
static emblem_picture picture(int w, int h, const std::vector<uint32_t> &px) {
    emblem_picture p = {w, h, (uint32_t *)malloc(px.size() * sizeof(uint32_t))};
    memcpy(p.pixels, px.data(), px.size() * sizeof(uint32_t));
    return p;
}

static std::string hex(const uint8_t *p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

static uint32_t pixel_at(const icon_set &set, int k, int tx, int ty) {
    int S = sizes[k - 1];
    const uint8_t *p = set.image[k - 1] + ICON_DIB_HEADER + ((size_t)(S - 1 - ty) * S + tx) * 4;
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

TEST(icon_image, sizes_headers_and_group_entries) {
    struct {
        int k, S;
        size_t bytes;
        const char *header, *entry;
    } cases[] = {
        {1, 16, 1128, "28 00 00 00 10 00 00 00 20 00 00 00 01 00 20 00", "10 10 00 00 01 00 20 00 68 04 00 00 01 00"},
        {2, 24, 2440, "28 00 00 00 18 00 00 00 30 00 00 00 01 00 20 00", "18 18 00 00 01 00 20 00 88 09 00 00 02 00"},
        {3, 32, 4264, "28 00 00 00 20 00 00 00 40 00 00 00 01 00 20 00", "20 20 00 00 01 00 20 00 A8 10 00 00 03 00"},
        {4, 48, 9640, "28 00 00 00 30 00 00 00 60 00 00 00 01 00 20 00", "30 30 00 00 01 00 20 00 A8 25 00 00 04 00"},
        {5, 64, 16936, "28 00 00 00 40 00 00 00 80 00 00 00 01 00 20 00", "40 40 00 00 01 00 20 00 28 42 00 00 05 00"},
        {6, 128, 67624, "28 00 00 00 80 00 00 00 00 01 00 00 01 00 20 00", "80 80 00 00 01 00 20 00 28 08 01 00 06 00"},
        {7, 256, 270376, "28 00 00 00 00 01 00 00 00 02 00 00 01 00 20 00", "00 00 00 00 01 00 20 00 28 20 04 00 07 00"},
    };
    icon_set set;
    emblem_picture pic = picture(2, 2, {0xFF102030, 0xFF102030, 0xFF102030, 0xFF102030});
    ASSERT_EQ(icon_set_build(&pic, &set), 1);
    EXPECT_EQ(pic.pixels, nullptr);
    EXPECT_EQ(hex(set.group, 6), "00 00 01 00 07 00");
    for (auto &c : cases) {
        SCOPED_TRACE(c.S);
        ASSERT_EQ(sizes[c.k - 1], c.S);
        ASSERT_EQ(icon_image_size(c.S), c.bytes);
        ASSERT_EQ(set.size[c.k - 1], c.bytes);
        const uint8_t *img = set.image[c.k - 1];
        EXPECT_EQ(hex(img, 16), c.header);
        EXPECT_EQ(hex(img + 16, 24), hex(std::vector<uint8_t>(24).data(), 24));  // compression to colours: 0
        // The mask, after the colour bitmap, is all 0.
        size_t mask = ICON_DIB_HEADER + 4 * (size_t)c.S * c.S;
        EXPECT_EQ(std::vector<uint8_t>(img + mask, img + c.bytes), std::vector<uint8_t>(c.bytes - mask, 0));
        EXPECT_EQ(hex(set.group + 6 + 14 * (c.k - 1), 14), c.entry);
    }
}

TEST(icon_cell, mean_colour_of_the_visible_pixels) {
    struct {
        const char *name;
        int w, h;
        std::vector<uint32_t> px;
        uint32_t want;
    } cases[] = {
        {"two red, one blue, one clear", 2, 2, {0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0}, 0xBFAA0055},
        {"one of two clear", 2, 1, {0xFFC86432, 0}, 0x7FC86432},
        {"all clear", 2, 2, {0, 0, 0, 0}, 0},
        {"one opaque pixel", 1, 1, {0xFF010203}, 0xFF010203},
        {"colour is truncated, not rounded", 3, 1, {0xFF000000, 0xFF000001, 0xFF000001}, 0xFF000000},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(icon_cell(c.px.data(), c.w, 0, 0, c.w, c.h), c.want);
    }
}

// The box is filled with pixels that tell their own position; it stands in a larger picture with
// transparent pixels around it, so the crop is part of what is checked.
TEST(icon_canvas, box_cropped_and_centred) {
    struct {
        int w, h, side, col, row;
    } cases[] = {
        {100, 50, 106, 3, 28}, {50, 100, 106, 28, 3}, {320, 192, 340, 10, 74},
        {16, 16, 17, 0, 0},    {15, 9, 15, 0, 3},     {1, 1, 1, 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        int pw = c.w + 9, ph = c.h + 6, ox = 4, oy = 2;
        std::vector<uint32_t> px((size_t)pw * ph, 0);
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) px[(size_t)(oy + y) * pw + ox + x] = 0xFF000000u | x << 12 | y;
        // Black but transparent pixels beside the box do not count.
        px[0] = 0x00FFFFFF;
        emblem_picture pic = picture(pw, ph, px);
        icon_box box;
        ASSERT_EQ(icon_bounds(&pic, &box), 1);
        EXPECT_EQ(box.x, ox);
        EXPECT_EQ(box.y, oy);
        EXPECT_EQ(box.w, c.w);
        EXPECT_EQ(box.h, c.h);
        int side = 0;
        uint32_t *canvas = icon_canvas(&pic, &box, &side);
        free(pic.pixels);
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(side, c.side);
        std::vector<uint32_t> want((size_t)side * side, 0);
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) want[(size_t)(c.row + y) * side + c.col + x] = 0xFF000000u | x << 12 | y;
        EXPECT_TRUE(std::vector<uint32_t>(canvas, canvas + (size_t)side * side) == want);
        free(canvas);
    }
}

// A 16 x 16 box gives a canvas of 17 whose last row and column are margin: at size 16 the last
// target row and column take two canvas rows or columns, one of them clear.
TEST(icon_set_build, last_cells_of_a_canvas_one_larger) {
    icon_set set;
    emblem_picture pic = picture(16, 16, std::vector<uint32_t>(256, 0xFF336699));
    ASSERT_EQ(icon_set_build(&pic, &set), 1);
    EXPECT_EQ(pixel_at(set, 1, 0, 0), 0xFF336699u);
    EXPECT_EQ(pixel_at(set, 1, 14, 14), 0xFF336699u);
    EXPECT_EQ(pixel_at(set, 1, 15, 3), 0x7F336699u);
    EXPECT_EQ(pixel_at(set, 1, 3, 15), 0x7F336699u);
    EXPECT_EQ(pixel_at(set, 1, 15, 15), 0x3F336699u);
}

// Red over blue, 32 x 32: side 34 with the box at 1, 1. The bitmap stores the bottom row first.
TEST(icon_set_build, bottom_row_stored_first) {
    std::vector<uint32_t> px(32 * 32);
    for (int i = 0; i < 32 * 32; i++) px[i] = i < 16 * 32 ? 0xFFFF0000 : 0xFF0000FF;
    icon_set set;
    emblem_picture pic = picture(32, 32, px);
    ASSERT_EQ(icon_set_build(&pic, &set), 1);
    // Target row 15 covers canvas rows 31-33 (33 is margin), column 8 covers 17-18: 4 of 6 blue.
    const uint8_t *first = set.image[0] + ICON_DIB_HEADER;
    EXPECT_EQ(hex(first + 4 * 8, 4), "FF 00 00 AA");
    // Target row 0 covers canvas rows 0-1 (0 is margin): 2 of 4 red, in the bitmap's last row.
    const uint8_t *last = first + 15 * 16 * 4;
    EXPECT_EQ(hex(last + 4 * 8, 4), "00 00 FF 7F");
    EXPECT_EQ(pixel_at(set, 1, 8, 15), 0xAA0000FFu);
    EXPECT_EQ(pixel_at(set, 1, 8, 0), 0x7FFF0000u);
}

TEST(icon_set_build, single_pixel_fills_every_image) {
    std::vector<uint32_t> px(7 * 5, 0);
    px[2 * 7 + 4] = 0xFF123456;
    icon_set set;
    emblem_picture pic = picture(7, 5, px);
    ASSERT_EQ(icon_set_build(&pic, &set), 1);
    for (int k = 1; k <= ICON_COUNT; k++) {
        SCOPED_TRACE(sizes[k - 1]);
        int S = sizes[k - 1];
        std::vector<uint32_t> got;
        for (int ty = 0; ty < S; ty++)
            for (int tx = 0; tx < S; tx++) got.push_back(pixel_at(set, k, tx, ty));
        EXPECT_TRUE(got == std::vector<uint32_t>((size_t)S * S, 0xFF123456));
    }
}

// A wide picture fills the width and is centred vertically, not squashed: the 200 x 100 box
// lies at column 6, row 56 of a canvas of 212; at 256 every target pixel is one canvas pixel,
// (t * 212) div 256, so the box shows in target columns 8-248 and rows 68-188.
TEST(icon_set_build, wide_picture_centred_not_squashed) {
    icon_set set;
    emblem_picture pic = picture(200, 100, std::vector<uint32_t>(200 * 100, 0xFF808080));
    ASSERT_EQ(icon_set_build(&pic, &set), 1);
    int first_x = -1, last_x = -1, first_y = -1, last_y = -1;
    for (int t = 0; t < 256; t++) {
        if (pixel_at(set, 7, t, 128) == 0xFF808080u) {
            if (first_x < 0) first_x = t;
            last_x = t;
        } else {
            EXPECT_EQ(pixel_at(set, 7, t, 128), 0u) << t;
        }
        if (pixel_at(set, 7, 128, t) == 0xFF808080u) {
            if (first_y < 0) first_y = t;
            last_y = t;
        } else {
            EXPECT_EQ(pixel_at(set, 7, 128, t), 0u) << t;
        }
    }
    EXPECT_EQ(first_x, 8);
    EXPECT_EQ(last_x, 248);
    EXPECT_EQ(first_y, 68);
    EXPECT_EQ(last_y, 188);
}

TEST(icon_set_build, empty_picture_is_refused) {
    log_capture log;
    icon_set set;
    emblem_picture pic = picture(3, 2, {0, 0x00FFFFFF, 0, 0, 0, 0});
    EXPECT_EQ(icon_set_build(&pic, &set), 0);
    EXPECT_EQ(pic.pixels, nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR: game emblem picture is empty"});
    for (int k = 0; k < ICON_COUNT; k++) EXPECT_EQ(set.image[k], nullptr);
}

// Short of memory for the canvas or for one of the images: the line of a failed icon update, and
// nothing kept.
static void *no_memory(size_t) { return NULL; }
static void *no_zeroed_memory(size_t, size_t) { return NULL; }

TEST(icon_set_build, short_of_memory_is_a_failed_update) {
    struct {
        const char *name;
        void *replacement;
    } faults[] = {{"calloc", (void *)no_zeroed_memory}, {"malloc", (void *)no_memory}};
    for (auto &f : faults) {
        SCOPED_TRACE(f.name);
        log_capture log;
        icon_set set;
        emblem_picture pic = picture(2, 1, {0xFF0000FF, 0xFF00FF00});
        int result;
        {
            import_swap swap("msvcrt.dll", f.name, f.replacement);
            ASSERT_TRUE(swap.ok());
            result = icon_set_build(&pic, &set);
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(pic.pixels, nullptr);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR: cannot update the game executable's icon"});
        for (int k = 0; k < ICON_COUNT; k++) EXPECT_EQ(set.image[k], nullptr);
    }
}
