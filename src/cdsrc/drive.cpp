// The CD-ROM drive half of a drive source: the disc's table of contents and the raw sectors of its
// audio tracks, through the device controls of the platform's CD-ROM class driver.
#include "cdsrc/drive.h"

#include "util/bytes.h"
#include "util/handles.h"
#include "util/paths.h"

// An MSF address as an LBA: 0 when it is no address (a second past 59, a frame past 74) or lies
// in the pregap before LBA 0.
static int msf_lba(const uint8_t *msf, uint32_t *lba) {
    if (msf[1] > 59 || msf[2] > 74) return 0;
    uint32_t frames = ((uint32_t)msf[0] * 60 + msf[1]) * 75 + msf[2];
    if (frames < DRIVE_MSF_LBA0) return 0;
    *lba = frames - DRIVE_MSF_LBA0;
    return 1;
}

int drive_toc_tracks(const uint8_t *toc, uint32_t got, const char *device, cd_track *out) {
    if (got < DRIVE_TOC_HEADER) return 0;
    // Length counts the bytes after itself; a driver may hand back more than that, never trusted.
    uint32_t bytes = 2 + (uint32_t)be16(toc);
    if (bytes > got) bytes = got;
    uint32_t entries = bytes < DRIVE_TOC_HEADER ? 0 : (bytes - DRIVE_TOC_HEADER) / DRIVE_TOC_ENTRY;
    int n = 0;
    uint32_t leadout = 0;
    int ended = 0;
    for (uint32_t i = 0; i < entries && !ended; i++) {
        const uint8_t *e = toc + DRIVE_TOC_HEADER + i * DRIVE_TOC_ENTRY;
        uint32_t lba;
        if (!msf_lba(e + 5, &lba)) return 0;
        if (n > 0 && lba <= out[n - 1].start_lba) return 0;
        if (e[2] == DRIVE_LEADOUT) {
            leadout = lba;
            ended = 1;
            continue;
        }
        if (e[2] < 1 || e[2] > 99 || n == TRACK_LIMIT) return 0;
        cd_track *t = &out[n++];
        t->number = e[2];
        t->audio = !(e[1] & DRIVE_CONTROL_DATA);
        t->start_lba = lba;
        t->sector_size = t->audio ? RAW_SECTOR : ISO_SECTOR;
        t->file_offset = 0;
        t->kind = TRACK_RAW;
        t->file_bytes = 0;
        fmt_cut(t->file, sizeof t->file, "%s", device);
    }
    if (!ended || n == 0) return 0;
    for (int i = 0; i < n; i++)
        out[i].sectors = (i + 1 < n ? out[i + 1].start_lba : leadout) - out[i].start_lba;
    return n;
}

int drive_open(cd_source *s, const char *root) {
    if (!path_is_drive_root(root) || GetDriveTypeA(root) != DRIVE_CDROM) return 0;
    char device[8];
    fmt_cut(device, sizeof device, "\\\\.\\%c:", root[0]);
    // Others keep their access: the shell and the file system have the drive open too.
    handle_guard h(CreateFileA(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return 0;
    uint8_t toc[DRIVE_TOC_BYTES];
    DWORD got = 0;
    if (!DeviceIoControl(h.h, DRIVE_IOCTL_READ_TOC, NULL, 0, toc, sizeof toc, &got, NULL)) return 0;
    int n = drive_toc_tracks(toc, got, device, s->tracks);
    if (n == 0) return 0;
    s->track_count = n;
    s->drive = h.h;
    h.h = INVALID_HANDLE_VALUE;
    s->drive_block = DRIVE_FIRST_BLOCK;
    return 1;
}

// One IOCTL_CDROM_RAW_READ of count CD-DA sectors from lba on. 0 with the reason in *err.
static int raw_read(HANDLE drive, uint32_t lba, uint32_t count, uint8_t *out, DWORD *err) {
    uint8_t info[DRIVE_RAW_READ_INFO] = {0};
    uint64_t offset = (uint64_t)lba * DRIVE_DISK_OFFSET_SECTOR;
    put_le32(info, (uint32_t)offset);
    put_le32(info + 4, (uint32_t)(offset >> 32));
    put_le32(info + DRIVE_RAW_COUNT_AT, count);
    put_le32(info + DRIVE_RAW_MODE_AT, DRIVE_TRACK_MODE_CDDA);
    DWORD want = count * RAW_SECTOR, got = 0;
    if (!DeviceIoControl(drive, DRIVE_IOCTL_RAW_READ, info, sizeof info, out, want, &got, NULL)) {
        *err = GetLastError();
        return 0;
    }
    *err = ERROR_READ_FAULT;  // a short answer: the rest was not read
    return got == want;
}

int drive_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf) {
    const cd_track *t = &s->tracks[track];
    // Past the track's end lies the next track or the lead-out: never this track's music.
    if (!t->audio || count < 0 || first > t->sectors || (uint32_t)count > t->sectors - first) return 0;
    uint8_t *out = (uint8_t *)buf;
    uint32_t done = 0;
    int tries = 0;
    while (done < (uint32_t)count) {
        uint32_t n = (uint32_t)count - done;
        if (n > s->drive_block) n = s->drive_block;
        uint32_t lba = t->start_lba + first + done;
        DWORD err;
        if (raw_read(s->drive, lba, n, out + (size_t)done * RAW_SECTOR, &err)) {
            done += n;
            tries = 0;
            continue;
        }
        // The class driver refuses a transfer longer than its adapter takes as an invalid
        // parameter; the smaller block is kept for the rest of the disc.
        if (err == ERROR_INVALID_PARAMETER && n > 1) {
            s->drive_block = n / 2;
            continue;
        }
        if (++tries < DRIVE_READ_TRIES) continue;
        setup_log("read error in %s, sectors %u to %u", t->file, lba, lba + n - 1);
        note_reason(err);
        return 0;
    }
    return 1;
}
