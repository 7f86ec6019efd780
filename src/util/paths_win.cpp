#include <windows.h>
#include <string.h>

#include "util/handles.h"
#include "util/paths.h"
#include "util/remove.h"

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
    if (_strnicmp(named, "\\\\?\\UNC\\", 8) == 0) {
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
    if (n == 0 || _strnicmp(path, root_given, n) != 0) return NULL;
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

static int lies_as_named(HANDLE h, const char *path) {
    char real[PATH_TEXT], want[PATH_TEXT];
    return handle_path(h, real) && path_expected(path, want) && _stricmp(real, want) == 0;
}

// A new file is made only in a folder that lies where its name says: made through a linked folder,
// it would be a new file elsewhere before any check of it could run.
static int parent_writable(const char *path) {
    char parent[PATH_TEXT];
    return !below_root(path) || (path_parent(parent, sizeof parent, path) && folder_writable(parent));
}

void *create_checked(const char *path, int whole) {
    DWORD access = GENERIC_WRITE | (whole ? DELETE : 0);
    // Opened without emptying it: opening a link to replace its file would empty the file it leads to.
    HANDLE h = CreateFileA(path, access, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    int existed = h != INVALID_HANDLE_VALUE, made_deletable = 0;
    if (!existed) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
        if (!parent_writable(path)) {
            SetLastError(ERROR_STOPPED_AT_LINK);
            return INVALID_HANDLE_VALUE;
        }
        // A link at the name that leads nowhere is not followed: the name is taken. A file made here
        // and then not found where named (a failed look) goes again through its own handle.
        h = CreateFileA(path, access | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        made_deletable = h != INVALID_HANDLE_VALUE;
        if (!made_deletable && GetLastError() == ERROR_ACCESS_DENIED)
            h = CreateFileA(path, access, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE) return h;
    }
    if (!lies_as_named(h, path)) {
        if (made_deletable) remove_through(h);
        CloseHandle(h);
        SetLastError(ERROR_STOPPED_AT_LINK);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && !SetEndOfFile(h)) {
        DWORD err = GetLastError();
        CloseHandle(h);
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

int folder_writable(const char *path) {
    // Outside the write root the folders are the user's to choose: a linked install folder is fine.
    if (!below_root(path)) return 1;
    if (writable_seen[0] && _stricmp(path, writable_seen) == 0) return 1;
    char real[PATH_TEXT], want[PATH_TEXT], parent[PATH_TEXT];
    int ok;
    if (real_path(path, real))
        ok = path_expected(path, want) && _stricmp(real, want) == 0;
    else  // not there yet: it will be made in its folder, which must lie where named
        ok = path_parent(parent, sizeof parent, path) && folder_writable(parent);
    if (ok && strlen(path) < sizeof writable_seen) strcpy(writable_seen, path);
    return ok;
}
