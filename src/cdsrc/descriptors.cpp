// The descriptor files of images, read from disk: cue sheets (with the files they name, measured
// by audio_stream.h), CloneCD control files and Alcohol media descriptors, each a small text or
// table parsed by its platform-free reader.
#include "cdsrc/descriptors.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "cdsrc/audio_stream.h"
#include "util/paths.h"

// A small file's bytes (a sheet or a descriptor), at most max of them, with one spare byte; null
// when it cannot be read or is larger.
static char *read_small_file(const char *path, size_t max, uint64_t *size) {
    if (!file_size(path, size) || *size > max) return NULL;
    char *bytes = (char *)read_file(path, size);
    if (bytes && *size > max) {  // it grew since its size was taken
        free(bytes);
        return NULL;
    }
    return bytes;
}

static void name_tracks(cd_track *tracks, int count, const char *data_file) {
    for (int i = 0; i < count; i++) strcpy(tracks[i].file, data_file);  // both PATH_TEXT bytes
}

// The data file beside a control file: the .img of its name, or the .bin that some tools write
// instead. A missing one is named in the log.
static int ccd_data_file(const char *ccd, char *data_file, uint64_t *size) {
    char bin[PATH_TEXT];
    if (!path_with_extension(data_file, PATH_TEXT, ccd, ".img")) return 0;
    if (file_size(data_file, size)) return 1;
    if (path_with_extension(bin, sizeof bin, ccd, ".bin") && file_size(bin, size)) {
        strcpy(data_file, bin);
        return 1;
    }
    setup_log("cannot read %s", data_file);
    return 0;
}

int ccd_read(const char *ccd, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0, img_size = 0;
    if (!ccd_data_file(ccd, data_file, &img_size)) return 0;
    std::unique_ptr<char, void (*)(void *)> text(read_small_file(ccd, CCD_MAX_BYTES, &size), free);
    if (!text) return 0;
    int count = ccd_parse(text.get(), (size_t)size, img_size, tracks);
    name_tracks(tracks, count, data_file);
    return count;
}

// The data file a descriptor names: "*.mdf" is the .mdf of the descriptor's own name; any other
// name is a file beside the descriptor, and a name that would lead elsewhere is refused.
static int mds_data_file(const char *mds, const char *name, char *out) {
    if (strcmp(name, "*.mdf") == 0) return path_with_extension(out, PATH_TEXT, mds, ".mdf");
    if (strpbrk(name, "\\/:") || !name_is_safe(name)) return 0;
    const char *slash = strrchr(mds, '\\');
    size_t folder = slash ? (size_t)(slash - mds + 1) : 0;
    int n = snprintf(out, PATH_TEXT, "%.*s%s", (int)folder, mds, name);
    if (n >= 0 && n < PATH_TEXT) return 1;
    out[0] = 0;  // never a cut path
    return 0;
}

int mds_read(const char *mds, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0;
    std::unique_ptr<char, void (*)(void *)> bytes(read_small_file(mds, MDS_MAX_BYTES, &size), free);
    if (!bytes) return 0;
    char name[PATH_TEXT];
    int count = mds_parse((const uint8_t *)bytes.get(), (size_t)size, tracks, name);
    uint64_t data_size = 0;
    if (count == 0 || !mds_data_file(mds, name, data_file)) return 0;
    if (!file_size(data_file, &data_size)) {
        setup_log("cannot read %s", data_file);
        return 0;
    }
    // Every track starts inside the data file, as the CloneCD reader also insists: one that starts
    // past its end is damage, found here rather than halfway through the install.
    for (int i = 0; i < count; i++) {
        const cd_track *t = &tracks[i];
        if (t->file_offset > data_size || (t->sectors && t->file_offset == data_size)) return 0;
    }
    name_tracks(tracks, count, data_file);
    return count;
}

// The files a sheet names, each measured once however often it is named: an audio file's length
// takes its decoder to tell, and a hostile sheet can name one file thousands of times.
enum { MEASURED_FILES = 16 };
struct measured_files {
    struct {
        char path[PATH_TEXT];
        int ok;
        cue_file info;
    } file[MEASURED_FILES];
    int count, next;
};

static int measure_on_disk(void *user, const char *path, cue_file *out) {
    measured_files *m = (measured_files *)user;
    for (int i = 0; i < m->count; i++)
        if (ascii_same(m->file[i].path, path)) {
            *out = m->file[i].info;
            return m->file[i].ok;
        }
    int kind = TRACK_RAW;
    uint64_t bytes = 0;
    int ok = audio_measure(path, &kind, &bytes);
    out->kind = kind;
    out->bytes = bytes;
    if (strlen(path) < PATH_TEXT) {  // always: the reader's paths are PATH_TEXT bytes
        int i = m->next;
        m->next = (m->next + 1) % MEASURED_FILES;
        if (m->count < MEASURED_FILES) m->count++;
        strcpy(m->file[i].path, path);
        m->file[i].ok = ok;
        m->file[i].info = *out;
    }
    return ok;
}

int cue_read_sheet(const char *sheet, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0;
    std::unique_ptr<char, void (*)(void *)> text(read_small_file(sheet, CUE_MAX_BYTES, &size), free);
    std::unique_ptr<measured_files, void (*)(void *)> measured((measured_files *)calloc(1, sizeof(measured_files)),
                                                               free);
    if (!text || !measured) return 0;
    return cue_parse(text.get(), (size_t)size, sheet, measure_on_disk, measured.get(), tracks, data_file);
}
