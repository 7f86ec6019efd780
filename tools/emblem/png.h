#pragma once
#include <stdint.h>

// Writes width x height pixels of r, g, b, a bytes (rows top to bottom) as a PNG file. 1 or 0.
int png_write_rgba(const char *path, int width, int height, const uint8_t *rgba);
