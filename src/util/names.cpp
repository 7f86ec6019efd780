// The names that may become files: the one rule for every walk of a disc, a folder or an
// installed tree. Names from there are untrusted: under Wine a Unix name may hold '\', and device
// names open devices.
#include "util/util.h"

#include <ctype.h>
#include <string.h>

static int same_letters(const char *a, size_t n, const char *b) {
    if (strlen(b) != n) return 0;
    for (size_t i = 0; i < n; i++)
        if (toupper((unsigned char)a[i]) != b[i]) return 0;
    return 1;
}

// Windows opens a device for these names whatever follows the first dot, and it first drops the
// trailing dots and blanks of the whole name and the trailing blanks of the part before the dot:
// "COM1      " and "NUL. . " are devices as much as "COM1" and "nul.txt" are.
int is_device_name(const char *name) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    size_t n = strlen(name);
    while (n > 0 && (name[n - 1] == '.' || name[n - 1] == ' ')) n--;
    const char *dot = (const char *)memchr(name, '.', n);
    size_t stem = dot ? (size_t)(dot - name) : n;
    while (stem > 0 && name[stem - 1] == ' ') stem--;
    for (const char *d : devices)
        if (same_letters(name, stem, d)) return 1;
    return stem == 4 && (same_letters(name, 3, "COM") || same_letters(name, 3, "LPT")) && name[3] >= '1' &&
           name[3] <= '9';
}

int name_is_safe(const char *name) {
    int meaningful = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++) {
        if (*p < 0x20 || *p == '\\' || *p == '/' || *p == ':') return 0;
        if (*p != '.' && *p != ' ') meaningful = 1;
    }
    return meaningful && !is_device_name(name);
}

int path_is_local(const char *path) {
    const unsigned char *p = (const unsigned char *)path;
    int sep0 = p[0] == '\\' || p[0] == '/', sep1 = sep0 && (p[1] == '\\' || p[1] == '/');
    if (sep1) return 0;  // "\\host\share", "\\.\COM1", "\\?\..."
    if (p[0] && p[1] == ':') {
        int letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
        if (!letter || (p[2] != '\\' && p[2] != '/')) return 0;  // "X:name" names drive X's current folder
        p += 2;
    }
    char part[PATH_TEXT];
    size_t n = 0;
    for (;; p++) {
        if (*p && *p != '\\' && *p != '/') {
            if (*p < 0x20 || *p == ':' || n + 1 >= sizeof part) return 0;
            part[n++] = (char)*p;
            continue;
        }
        part[n] = 0;
        if (n && is_device_name(part)) return 0;
        n = 0;
        if (!*p) return 1;
    }
}
