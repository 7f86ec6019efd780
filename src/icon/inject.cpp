#include "icon/icon.h"

#include <windows.h>

#include "icon/emblem.h"
#include "icon/icon_image.h"
#include "util/util.h"

// Language-neutral, so that a later update replaces these entries instead of adding a second set.
enum { ICON_LANGUAGE = 0 };

icon_result inject_icon_lbm(const char *exe, const uint8_t *bytes, uint64_t size) {
    emblem_picture pic;
    if (!emblem_decode(bytes, size, &pic)) return ICON_NOT_MADE;
    // Every byte is ready before the update begins, so that nothing but the update itself can fail
    // between BeginUpdateResourceA and EndUpdateResourceA.
    icon_set set;
    if (!icon_set_build(&pic, &set)) return ICON_NOT_MADE;
    HANDLE h = BeginUpdateResourceA(exe, FALSE);
    if (!h) {
        note_reason(GetLastError());
        setup_error("%s", "cannot update the game executable's icon");
        return ICON_NOT_MADE;
    }
    // All eight or none: a group that names an image the file lacks is a broken icon, so an update
    // with a failed entry is discarded and the executable keeps the resources it had.
    int all = 1;
    for (int k = 1; k <= ICON_COUNT; k++)
        all &= UpdateResourceA(h, RT_ICON, MAKEINTRESOURCEA(k), ICON_LANGUAGE, set.image[k - 1],
                               (DWORD)set.size[k - 1]) != 0;
    all &= UpdateResourceA(h, RT_GROUP_ICON, MAKEINTRESOURCEA(1), ICON_LANGUAGE, set.group, sizeof set.group) != 0;
    if (!all) {
        EndUpdateResourceA(h, TRUE);
        setup_error("%s", "cannot write the game executable's icon");
        return ICON_UPDATE_FAILED;
    }
    if (!EndUpdateResourceA(h, FALSE)) {
        note_reason(GetLastError());
        setup_error("%s", "cannot write the game executable's icon");
        return ICON_UPDATE_FAILED;
    }
    return ICON_WRITTEN;
}
