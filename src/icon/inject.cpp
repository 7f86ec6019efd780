#include "icon.h"

#include <windows.h>

#include "emblem.h"
#include "icon_image.h"
#include "util/util.h"

// Language-neutral, so that a later update replaces these entries instead of adding a second set.
enum { ICON_LANGUAGE = 0 };

int inject_icon_lbm(const char *exe, const uint8_t *bytes, uint64_t size) {
    emblem_picture pic;
    if (!emblem_decode(bytes, size, &pic)) return 0;
    // Every byte is ready before the update begins: once begun, the update is always written,
    // so nothing that can fail may come between BeginUpdateResourceA and EndUpdateResourceA.
    icon_set set;
    if (!icon_set_build(&pic, &set)) return 0;
    HANDLE h = BeginUpdateResourceA(exe, FALSE);
    if (!h) {
        setup_log("ERROR: %s", "cannot update the game executable's icon");
        return 0;
    }
    // A failed UpdateResourceA is not looked at: EndUpdateResourceA alone decides the result.
    for (int k = 1; k <= ICON_COUNT; k++)
        UpdateResourceA(h, RT_ICON, MAKEINTRESOURCEA(k), ICON_LANGUAGE, set.image[k - 1], (DWORD)set.size[k - 1]);
    UpdateResourceA(h, RT_GROUP_ICON, MAKEINTRESOURCEA(1), ICON_LANGUAGE, set.group, sizeof set.group);
    if (!EndUpdateResourceA(h, FALSE)) {
        setup_log("ERROR: %s", "cannot write the game executable's icon");
        return 0;
    }
    return 1;
}
