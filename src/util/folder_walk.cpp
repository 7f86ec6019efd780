#include "util/folder_walk.h"

#include <stdio.h>
#include <string.h>

#include "util/handles.h"
#include "util/paths.h"
#include "util/util.h"


static walk_answer ask(walk_answer (*cb)(void *, const folder_entry *), void *user, const folder_entry *e) {
    return cb ? cb(user, e) : WALK_NEXT;
}

static int walk(const char *folder, const char *rel, int depth, const folder_visitor *v) {
    char pattern[PATH_TEXT];
    WIN32_FIND_DATAA f;
    find_guard find(path_join(pattern, sizeof pattern, folder, "*") ? FindFirstFileA(pattern, &f) : INVALID_HANDLE_VALUE);
    if (!find.ok()) {
        DWORD err = GetLastError();
        return !v->unlisted || v->unlisted(v->user, folder, rel, err) != WALK_STOP;
    }
    do {
        // "." and "..", and every name that could lead out of the tree or into a device: a Unix name
        // under Wine may be "..\\..\\x" or "COM1". A name the listing could not hand out whole is
        // some other name.
        if (!ansi_text_whole(f.cFileName, sizeof f.cFileName) || !name_is_safe(f.cFileName)) continue;
        char path[PATH_TEXT], sub[PATH_TEXT];
        if (!path_join(path, sizeof path, folder, f.cFileName) || !path_join(sub, sizeof sub, rel, f.cFileName)) continue;
        folder_entry e = {path, sub, &f, depth};
        if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (ask(v->file, v->user, &e) == WALK_STOP) return 0;
            continue;
        }
        walk_answer a = ask(v->folder, v->user, &e);
        if (a == WALK_STOP) return 0;
        if (a != WALK_ENTER || (f.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (!walk(path, sub, depth + 1, v)) return 0;
        if (ask(v->leave, v->user, &e) == WALK_STOP) return 0;
    } while (FindNextFileA(find.h, &f));
    // A listing that breaks off is not the end of the folder: what it did not hand out would be missed.
    DWORD err = GetLastError();
    if (err != ERROR_NO_MORE_FILES) return !v->unlisted || v->unlisted(v->user, folder, rel, err) != WALK_STOP;
    return 1;
}

int folder_walk(const char *root, const folder_visitor *v) { return walk(root, "", 0, v); }
