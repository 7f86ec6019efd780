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
