// emblem: decodes a title picture as the setup does and shows what came out.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "icon/decoders.h"
#include "icon/emblem.h"
#include "icon/icon.h"
#include "icon/icon_image.h"
#include "util/bytes.h"
#include "util/state.h"
#include "util/util.h"
#include "png.h"

static const char usage[] =
    "usage: emblem [--png OUT.png] [--indices OUT] [--ico OUT.ico] [--inject EXE] PICTURE\n"
    "\n"
    "PICTURE is an FLI/FLC animation (its first frame is used) or an IFF PBM picture, decoded\n"
    "exactly as the setup decodes the game's title picture. Prints \"emblem <width>x<height>\".\n"
    "\n"
    "  --png OUT.png   the decoded picture as a 32-bit PNG with alpha\n"
    "  --indices OUT   the palette index picture it was made from, before the colour rule and any\n"
    "                  cut: width and height (4 bytes each, little-endian), width x height indices\n"
    "                  (rows top to bottom), then 256 palette entries of r, g, b\n"
    "  --ico OUT.ico   the seven 32-bit icon images (16 to 256 pixels) that the setup makes from\n"
    "                  the picture, as an icon file\n"
    "  --inject EXE    writes that icon into the executable's resources, as the setup does with\n"
    "                  the game executable (RT_ICON 1-7, RT_GROUP_ICON 1, language 0)\n"
    "\n"
    "Exit code 0 when the picture decoded and every file was written, 1 otherwise; the reason and\n"
    "the setup's own log lines go to stderr.\n";

struct emblem_args {
    const char *picture;
    const char *png;
    const char *indices;
    const char *ico;
    const char *inject;
};

// Where an option's value goes; null for an unknown option. A new output is one more line here.
static const char **option_slot(emblem_args *a, const char *name) {
    if (strcmp(name, "--png") == 0) return &a->png;
    if (strcmp(name, "--indices") == 0) return &a->indices;
    if (strcmp(name, "--ico") == 0) return &a->ico;
    if (strcmp(name, "--inject") == 0) return &a->inject;
    return NULL;
}

static int parse_args(int argc, char **argv, emblem_args *a) {
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (const char **slot = option_slot(a, arg)) {
            if (i + 1 >= argc) return 0;
            *slot = argv[++i];
        } else if (arg[0] == '-' || a->picture) {
            return 0;
        } else {
            a->picture = arg;
        }
    }
    return a->picture != NULL;
}

static int write_png(const char *path, const emblem_picture *pic) {
    std::vector<uint8_t> rgba((size_t)pic->width * pic->height * 4);
    for (size_t i = 0; i < (size_t)pic->width * pic->height; i++) {
        uint32_t v = pic->pixels[i];
        rgba[4 * i] = (uint8_t)(v >> 16);
        rgba[4 * i + 1] = (uint8_t)(v >> 8);
        rgba[4 * i + 2] = (uint8_t)v;
        rgba[4 * i + 3] = (uint8_t)(v >> 24);
    }
    if (png_write_rgba(path, pic->width, pic->height, rgba.data())) return 1;
    fprintf(stderr, "emblem: cannot write %s\n", path);
    return 0;
}

static int write_indices(const char *path, const emblem_indexed *ix) {
    std::vector<uint8_t> out(8);
    put_le32(out.data(), (uint32_t)ix->width);
    put_le32(out.data() + 4, (uint32_t)ix->height);
    for (int y = 0; y < ix->height; y++) {
        const uint8_t *row = ix->index + (size_t)y * ix->stride;
        out.insert(out.end(), row, row + ix->width);
    }
    out.insert(out.end(), ix->palette, ix->palette + sizeof ix->palette);
    return write_file(path, out.data(), out.size());
}

enum { ICO_HEADER = 6, ICO_ENTRY = 16 };

// An icon file holds the same images as the resources. Layout (little-endian): ICONDIR (reserved
// 0, type 1, count), then per image an ICONDIRENTRY of 16 bytes, which is the group entry with
// the image's file offset (32-bit) in place of its resource id, then the images in order.
static int write_ico(const char *path, const icon_set *set) {
    std::vector<uint8_t> out(set->group, set->group + ICO_HEADER);
    uint32_t at = ICO_HEADER + ICO_ENTRY * ICON_COUNT;
    for (int k = 0; k < ICON_COUNT; k++) {
        const uint8_t *e = set->group + ICON_GROUP_HEADER + ICON_GROUP_ENTRY * k;
        out.insert(out.end(), e, e + 12);
        out.resize(out.size() + 4);
        put_le32(out.data() + out.size() - 4, at);
        at += (uint32_t)set->size[k];
    }
    for (int k = 0; k < ICON_COUNT; k++) out.insert(out.end(), set->image[k], set->image[k] + set->size[k]);
    return write_file(path, out.data(), out.size());
}

int main(int argc, char **argv) {
    logf = stderr;  // the setup's log lines
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(usage, stdout);
        return 0;
    }
    emblem_args a = {};
    if (!parse_args(argc, argv, &a)) {
        fputs(usage, stderr);
        return 1;
    }
    uint64_t size = 0;
    uint8_t *data = (uint8_t *)read_file(a.picture, &size);
    if (!data) {
        fprintf(stderr, "emblem: cannot read %s\n", a.picture);
        return 1;
    }
    emblem_indexed ix;
    emblem_picture pic = {};
    int ok = emblem_decode_indexed(data, size, &ix, &pic);
    if (ok) {
        printf("emblem %dx%d\n", pic.width, pic.height);
        if (a.png) ok = write_png(a.png, &pic);
        if (ok && a.indices) ok = write_indices(a.indices, &ix);
        if (ok && a.ico) {
            icon_set set;
            ok = icon_set_build(&pic, &set) && write_ico(a.ico, &set);  // takes the pixels
        }
        if (ok && a.inject) ok = inject_icon_lbm(a.inject, data, size);
    }
    free(pic.pixels);
    free(data);
    fflush(stdout);
    return ok ? 0 : 1;
}
