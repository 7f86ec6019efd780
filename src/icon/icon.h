// The icon builder's entry point: the title picture made into the game executable's icon.
#pragma once
#include <stdint.h>

// Decodes the picture bytes (read only; the caller keeps them), builds seven 32-bit icon images
// from 16 to 256 pixels and writes them, with their icon group, into exe's resources (RT_ICON 1-7
// and RT_GROUP_ICON 1, language 0), keeping every other resource. 1 when the icon was written;
// 0 after logging why.
int inject_icon_lbm(const char *exe, const uint8_t *bytes, uint64_t size);
