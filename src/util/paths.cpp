#include "util/paths.h"

#include <stdio.h>
#include <string.h>

static int is_separator(char c) { return c == '\\' || c == '/'; }

int path_join(char *out, size_t size, const char *folder, const char *name) {
    size_t n = strlen(folder);
    const char *sep = n == 0 || is_separator(folder[n - 1]) ? "" : "\\";
    int k = snprintf(out, size, "%s%s%s", folder, sep, name);
    if (k >= 0 && (size_t)k < size) return 1;
    if (size) out[0] = 0;  // a cut path is no path
    return 0;
}

int path_parent(char *out, size_t size, const char *path) {
    const char *cut = NULL;
    for (const char *p = path; *p; p++)
        if (is_separator(*p)) cut = p;
    if (!cut || !cut[1]) return 0;  // no separator, or a root such as "C:\" or "\"
    size_t keep = (size_t)(cut - path);
    if (keep == 0 || path[keep - 1] == ':') keep++;  // "\x" and "C:\x": the root keeps its separator
    if (keep >= size) return 0;
    memcpy(out, path, keep);
    out[keep] = 0;
    return 1;
}

int path_with_extension(char *out, size_t size, const char *path, const char *ext) {
    const char *dot = NULL;
    for (const char *p = path; *p; p++) {
        if (is_separator(*p)) dot = NULL;
        if (*p == '.') dot = p;
    }
    size_t stem = dot ? (size_t)(dot - path) : strlen(path);
    int k = snprintf(out, size, "%.*s%s", (int)stem, path, ext);
    if (k >= 0 && (size_t)k < size) return 1;
    if (size) out[0] = 0;
    return 0;
}

int path_is_drive_root(const char *path) {
    char c = path[0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) || path[1] != ':') return 0;
    return !path[2] || (is_separator(path[2]) && !path[3]);
}

int path_same(const char *a, const char *b) {
    size_t na = strlen(a), nb = strlen(b);
    if (na && a[na - 1] == '\\') na--;
    if (nb && b[nb - 1] == '\\') nb--;
    return na == nb && ascii_same_n(a, b, na);
}

int path_inside(const char *path, const char *folder) {
    size_t n = strlen(folder);
    if (n == 0 || strlen(path) <= n || !ascii_same_n(path, folder, n)) return 0;
    return path[n] == '\\' || folder[n - 1] == '\\';
}

int ansi_text_whole(const char *buf, size_t limit) {
    const char *end = (const char *)memchr(buf, 0, limit);
    return end && (size_t)(end - buf) + 3 < limit;
}
