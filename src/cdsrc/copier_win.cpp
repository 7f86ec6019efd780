#include "copier_win.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "iso9660.h"

// The descriptor's bytes, at most max of them; null when it cannot be read or is larger.
static char *read_descriptor(const char *path, size_t max, uint64_t *size) {
    if (!file_size(path, size) || *size > max) return NULL;
    char *bytes = (char *)read_file(path, size);
    if (bytes && *size > max) {  // it grew since its size was taken
        free(bytes);
        return NULL;
    }
    return bytes;
}

// path with its extension (from the last dot after the last separator) replaced by ext; 0 when it
// does not fit.
static int with_extension(const char *path, const char *ext, char *out) {
    const char *slash = strrchr(path, '\\'), *dot = strrchr(path, '.');
    size_t stem = dot && (!slash || dot > slash) ? (size_t)(dot - path) : strlen(path);
    int n = snprintf(out, PATH_TEXT, "%.*s%s", (int)stem, path, ext);
    return n >= 0 && n < PATH_TEXT;
}

static void name_tracks(cd_track *tracks, int count, const char *data_file) {
    for (int i = 0; i < count; i++) fmt_cut(tracks[i].file, sizeof tracks[i].file, "%s", data_file);
}

int ccd_read(const char *ccd, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0, img_size = 0;
    if (!with_extension(ccd, ".img", data_file) || !file_size(data_file, &img_size)) return 0;
    std::unique_ptr<char, void (*)(void *)> text(read_descriptor(ccd, CCD_MAX_BYTES, &size), free);
    if (!text) return 0;
    int count = ccd_parse(text.get(), (size_t)size, img_size, tracks);
    name_tracks(tracks, count, data_file);
    return count;
}

// The data file a descriptor names: "*.mdf" is the .mdf of the descriptor's own name; any other
// name is a file beside the descriptor, and a name that would lead elsewhere is refused.
static int mds_data_file(const char *mds, const char *name, char *out) {
    if (strcmp(name, "*.mdf") == 0) return with_extension(mds, ".mdf", out);
    if (strpbrk(name, "\\/:") || !name_is_safe(name)) return 0;
    const char *slash = strrchr(mds, '\\');
    size_t folder = slash ? (size_t)(slash - mds + 1) : 0;
    int n = snprintf(out, PATH_TEXT, "%.*s%s", (int)folder, mds, name);
    return n >= 0 && n < PATH_TEXT;
}

int mds_read(const char *mds, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0;
    std::unique_ptr<char, void (*)(void *)> bytes(read_descriptor(mds, MDS_MAX_BYTES, &size), free);
    if (!bytes) return 0;
    char name[PATH_TEXT];
    int count = mds_parse((const uint8_t *)bytes.get(), (size_t)size, tracks, name);
    if (count == 0 || !mds_data_file(mds, name, data_file)) return 0;
    name_tracks(tracks, count, data_file);
    return count;
}
