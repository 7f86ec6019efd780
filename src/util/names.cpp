// The names that may become files: the one rule for every walk of a disc, a folder or an
// installed tree. Names from there are untrusted: under Wine a Unix name may hold '\', and device
// names open devices.
#include "util/util.h"

#include <string.h>

static int same_letters(const char *a, size_t n, const char *b) {
    return strlen(b) == n && ascii_same_n(a, b, n);
}

// The digit of a COM or LPT device, at name[3] of a stem of stem bytes: 1 to 9, or a superscript
// 1, 2 or 3 (U+00B9, U+00B2, U+00B3), as UTF-8 or as an 8-bit code page's one byte.
static int device_digit(const char *name, size_t stem) {
    const unsigned char *d = (const unsigned char *)name + 3;
    int super = 0;
    if (stem == 4 && d[0] >= '1' && d[0] <= '9') return 1;
    if (stem == 4) super = d[0];
    if (stem == 5 && d[0] == 0xC2) super = d[1];
    return super == 0xB9 || super == 0xB2 || super == 0xB3;
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
    return stem >= 4 && (same_letters(name, 3, "COM") || same_letters(name, 3, "LPT")) && device_digit(name, stem);
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
