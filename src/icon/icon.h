// The icon builder's entry point: the title picture made into the game executable's icon.
#pragma once
#include <stdint.h>

enum icon_result {
    ICON_NOT_MADE,       // the picture could not be made into an icon: exe is untouched
    ICON_WRITTEN,
    ICON_UPDATE_FAILED,  // the resource update began and failed: exe may be damaged
};

// Decodes the picture bytes (read only; the caller keeps them), builds seven 32-bit icon images
// from 16 to 256 pixels and writes them, with their icon group, into exe's resources (RT_ICON 1-7
// and RT_GROUP_ICON 1, language 0), keeping every other resource. Every failure is logged.
icon_result inject_icon_lbm(const char *exe, const uint8_t *bytes, uint64_t size);
