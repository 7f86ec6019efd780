// The one walk over a folder tree on disk: the CD copy's totals, copy and listing, the hard-disk
// files, the uninstaller's tree deletion and the search for a default CD all go through it.
#pragma once
#include <windows.h>

enum walk_answer {
    WALK_STOP,   // end the whole walk
    WALK_NEXT,   // go on with the next entry
    WALK_ENTER,  // (folders) walk this folder's entries, then go on
};

// One entry of a folder listing. Names that fail name_is_safe ("." and ".." among them, a name
// holding '\' or a device name), and names that the ANSI listing cannot hand out whole (in UTF-8, one
// of 257 bytes or more: ansi_text_whole), are never handed out: the walk passes over them.
struct folder_entry {
    const char *path;              // the walk's root, then the names down to this entry, '\'-joined
    const char *rel;               // the same below the root
    const WIN32_FIND_DATAA *find;  // what the listing says of it
    int depth;                     // 0 for the entries of the root
};

// Callbacks left null answer WALK_NEXT.
struct folder_visitor {
    walk_answer (*file)(void *user, const folder_entry *e);
    // A folder link (a reparse point) is handed out like any folder but never entered: it may point
    // anywhere, back up the tree included. WALK_ENTER on it counts as WALK_NEXT.
    walk_answer (*folder)(void *user, const folder_entry *e);
    // After an entered folder's walk, its listing closed (so that the folder itself can be removed).
    walk_answer (*leave)(void *user, const folder_entry *e);
    // A folder that cannot be listed (the root included: rel ""), or whose listing breaks off before
    // its end; err is GetLastError's code.
    walk_answer (*unlisted)(void *user, const char *path, const char *rel, DWORD err);
    void *user;
};

// Walks the entries below root in listing order, a folder's entries right after it. An entry whose
// path would not fit PATH_TEXT is passed over: a cut path names some other file. 1 when the walk
// ran to its end, 0 when a callback stopped it.
int folder_walk(const char *root, const folder_visitor *v);
