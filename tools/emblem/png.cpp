// The PNG writer apart from the tool: <math.h>, which stb pulls in, declares a logf of its own.
#include "png.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

int png_write_rgba(const char *path, int width, int height, const uint8_t *rgba) {
    return stbi_write_png(path, width, height, 4, rgba, width * 4) != 0;
}
