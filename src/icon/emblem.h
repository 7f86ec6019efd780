// The title picture decoders: the first frame of an FLI/FLC animation or an IFF "PBM " picture,
// turned into true colour in which every pixel is either fully transparent or fully opaque.
#pragma once
#include <stdint.h>

struct emblem_picture {
    int32_t width;     // columns, at least 1
    int32_t height;    // rows, at least 1
    uint32_t *pixels;  // width * height, rows top to bottom; 0 or 0xFF000000 | r << 16 | g << 8 | b.
                       // Allocated with malloc by emblem_decode; the caller frees it with free().
};

// Decodes the picture file's bytes (read only). Returns 1 with out filled, or 0 after logging
// "ERROR: game emblem picture not understood"; on 0 nothing is left allocated.
int emblem_decode(const uint8_t *data, uint64_t size, emblem_picture *out);
