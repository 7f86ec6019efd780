#include <windows.h>
#include <string.h>

#include "util/handles.h"
#include "util/paths.h"

int full_path(const char *path, char out[PATH_TEXT]) {
    if (!path[0]) return 0;
    DWORD n = GetFullPathNameA(path, PATH_TEXT, out, NULL);
    return n > 0 && n < PATH_TEXT;
}

int handle_path(void *h, char out[PATH_TEXT]) {
    char named[PATH_TEXT + 8];
    DWORD n = GetFinalPathNameByHandleA((HANDLE)h, named, sizeof named, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof named) return 0;
    // "\\?\C:\x" and "\\?\UNC\server\x" are the long-path forms of "C:\x" and "\\server\x".
    const char *plain = named;
    char unc[PATH_TEXT + 8];
    if (ascii_same_n(named, "\\\\?\\UNC\\", 8)) {
        unc[0] = '\\';
        strcpy(unc + 1, named + 7);
        plain = unc;
    } else if (strncmp(named, "\\\\?\\", 4) == 0) {
        plain = named + 4;
    }
    if (strlen(plain) >= PATH_TEXT) return 0;
    strcpy(out, plain);
    return 1;
}

int real_path(const char *path, char out[PATH_TEXT]) {
    handle_guard h(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    return h.ok() && handle_path(h.h, out);
}

// The install folder as given and where it really lies (both empty when none is set). Only the
// install's one thread writes while it is set.
static char root_given[PATH_TEXT], root_real[PATH_TEXT];

// The last folder found to lie where named: a copy writes a folder's files one after another, and
// asks for each file's folder.
static char writable_seen[PATH_TEXT];

int write_root_set(const char *folder) {
    root_given[0] = root_real[0] = writable_seen[0] = 0;
    if (!folder) return 1;
    char full[PATH_TEXT], real[PATH_TEXT];
    if (!full_path(folder, full) || !real_path(full, real)) return 0;
    size_t n = strlen(full);
    while (n > 3 && full[n - 1] == '\\') full[--n] = 0;  // "C:\x\" and "C:\x" are one folder
    strcpy(root_given, full);
    strcpy(root_real, real);
    return 1;
}

// The part of path below the write root ("" for the root itself); null when it is not below it.
static const char *below_root(const char *path) {
    size_t n = strlen(root_given);
    if (n == 0 || !ascii_same_n(path, root_given, n)) return NULL;
    if (path[n] == 0) return path + n;
    if (path[n] == '\\') return path + n + 1;
    return root_given[n - 1] == '\\' ? path + n : NULL;  // a drive root "C:\"
}

int path_expected(const char *path, char out[PATH_TEXT]) {
    const char *rest = below_root(path);
    if (rest) return *rest ? path_join(out, PATH_TEXT, root_real, rest) : (strcpy(out, root_real), 1);
    char parent[PATH_TEXT], parent_real[PATH_TEXT];
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/') name = p + 1;
    return *name && path_parent(parent, sizeof parent, path) && real_path(parent, parent_real) &&
           path_join(out, PATH_TEXT, parent_real, name);
}

int folder_writable(const char *path) {
    // Outside the write root the folders are the user's to choose: a linked install folder is fine.
    if (!below_root(path)) return 1;
    if (writable_seen[0] && ascii_same(path, writable_seen)) return 1;
    char real[PATH_TEXT], want[PATH_TEXT], parent[PATH_TEXT];
    int ok;
    if (real_path(path, real))
        ok = path_expected(path, want) && ascii_same(real, want);
    else  // not there yet: it will be made in its folder, which must lie where named
        ok = path_parent(parent, sizeof parent, path) && folder_writable(parent);
    if (ok && strlen(path) < sizeof writable_seen) strcpy(writable_seen, path);
    return ok;
}
