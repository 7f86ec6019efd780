#include "iso_records.h"
#include "../util/bytes.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

static void record_name(const uint8_t *id, uint32_t idlen, char *name) {
    uint32_t n = 0;
    while (n < idlen && n < 63 && id[n] != ';') {
        name[n] = (char)id[n];
        n++;
    }
    if (n > 0 && name[n - 1] == '.') n--;
    name[n] = 0;
}

iso_entry *iso_parse_dir(const uint8_t *data, uint32_t len, int *count) {
    int room = 64, n = 0;
    iso_entry *list = (iso_entry *)malloc(room * sizeof *list);
    *count = 0;
    if (!list) return NULL;
    uint32_t pos = 0;
    while (pos < len) {
        uint32_t reclen = data[pos];
        if (reclen == 0) {
            pos = (pos & ~2047u) + 2048;
            continue;
        }
        // Damage ends the directory: a record too short for its fixed part, one that runs past the
        // directory's data, or an identifier that runs past its record.
        if (reclen < ISO_RECORD_MIN || reclen > len - pos) break;
        const uint8_t *r = data + pos;
        uint32_t idlen = r[32];
        if (33 + idlen > reclen) break;
        pos += reclen;
        if (idlen == 1 && (r[33] == 0 || r[33] == 1)) continue;  // the directory itself and its parent
        if (n == room) {
            iso_entry *bigger = (iso_entry *)realloc(list, 2 * room * sizeof *list);
            if (!bigger) break;
            list = bigger;
            room *= 2;
        }
        iso_entry *e = &list[n++];
        memset(e, 0, sizeof *e);
        record_name(r + 33, idlen, e->name);
        e->lba = le32(r + 2);
        e->size = le32(r + 10);
        e->directory = (r[25] & ISO_FLAG_DIRECTORY) ? 1 : 0;
        e->continued = (r[25] & ISO_FLAG_MULTI_EXTENT) ? 1 : 0;
    }
    *count = n;
    return list;
}

static int same_letters(const char *a, size_t n, const char *b) {
    if (strlen(b) != n) return 0;
    for (size_t i = 0; i < n; i++)
        if (toupper((unsigned char)a[i]) != b[i]) return 0;
    return 1;
}

// Windows opens a device for these names whatever follows the first dot, and it first drops the
// trailing dots and blanks of the whole name and the trailing blanks of the part before the dot:
// "COM1      " and "NUL. . " are devices as much as "COM1" and "nul.txt" are.
static int is_device_name(const char *name) {
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
