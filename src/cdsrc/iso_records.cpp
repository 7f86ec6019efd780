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

static int is_device_name(const char *name) {
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    size_t base = strcspn(name, ".");
    char stem[8];
    if (base >= sizeof stem) return 0;
    for (size_t i = 0; i < base; i++) stem[i] = (char)toupper((unsigned char)name[i]);
    stem[base] = 0;
    // Windows also ignores trailing blanks of the stem: "CON .txt" opens the console.
    while (base > 0 && stem[base - 1] == ' ') stem[--base] = 0;
    for (const char *d : devices)
        if (strcmp(stem, d) == 0) return 1;
    if (base == 4 && (memcmp(stem, "COM", 3) == 0 || memcmp(stem, "LPT", 3) == 0) && stem[3] >= '1' &&
        stem[3] <= '9')
        return 1;
    return 0;
}

int name_is_safe(const char *name) {
    int meaningful = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++) {
        if (*p < 0x20 || *p == '\\' || *p == '/' || *p == ':') return 0;
        if (*p != '.' && *p != ' ') meaningful = 1;
    }
    return meaningful && !is_device_name(name);
}
