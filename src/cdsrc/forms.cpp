#include "cdsrc/forms.h"

#include <string.h>

#include "util/util.h"

// The filter lists the files in this order. A .bin is not searched for: it is mostly a cue sheet's
// data file, and found before the sheet it would install the game without the sheet's music.
const cd_form cd_forms[] = {
    {NULL, "a CD in a CD-ROM drive", FORM_MUSIC},
    {NULL, "a folder the CD was copied into", 0},
    {".iso", "an ISO image", FORM_PICKED | FORM_SEARCHED},
    {".cue", "a cue sheet", FORM_PICKED | FORM_SEARCHED | FORM_MUSIC},
    {".bin", "a BIN image", FORM_PICKED},
    {".nrg", "a Nero image", FORM_PICKED | FORM_SEARCHED | FORM_MUSIC},
    {".ccd", "a CloneCD image", FORM_PICKED | FORM_SEARCHED | FORM_MUSIC},
    {".mds", "an Alcohol image", FORM_PICKED | FORM_SEARCHED | FORM_MUSIC},
    {".chd", "a CHD image", FORM_PICKED | FORM_SEARCHED | FORM_MUSIC},
};
const size_t cd_form_count = sizeof cd_forms / sizeof *cd_forms;

unsigned cd_form_flags(const char *name) {
    const char *ext = strrchr(name, '.');
    if (!ext) return 0;
    for (size_t i = 0; i < cd_form_count; i++)
        if (cd_forms[i].ext && ascii_same(ext, cd_forms[i].ext)) return cd_forms[i].flags;
    return 0;
}

// Appends text, cut to what buf holds.
static void append(char *buf, size_t size, const char *text) {
    size_t n = strlen(buf);
    if (n + 1 < size) fmt_cut(buf + n, size - n, "%s", text);
}

char *cd_form_patterns(char *buf, size_t size, unsigned flags) {
    if (!size) return buf;
    buf[0] = 0;
    for (size_t i = 0; i < cd_form_count; i++) {
        if (!cd_forms[i].ext || (cd_forms[i].flags & flags) != flags) continue;
        if (buf[0]) append(buf, size, ";");
        append(buf, size, "*");
        append(buf, size, cd_forms[i].ext);
    }
    return buf;
}

char *cd_form_names(char *buf, size_t size, unsigned flags) {
    if (!size) return buf;
    buf[0] = 0;
    size_t total = 0, told = 0;
    for (size_t i = 0; i < cd_form_count; i++) total += (cd_forms[i].flags & flags) == flags;
    for (size_t i = 0; i < cd_form_count; i++) {
        const cd_form &f = cd_forms[i];
        if ((f.flags & flags) != flags) continue;
        if (told) append(buf, size, told + 1 == total ? " or " : ", ");
        append(buf, size, f.name);
        if (f.ext) {
            append(buf, size, " (");
            append(buf, size, f.ext);
            append(buf, size, ")");
        }
        told++;
    }
    return buf;
}
