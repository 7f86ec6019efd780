// The CD-ROM drive half of a drive source (drive.cpp). A drive root whose type is DRIVE_CDROM is a
// folder source for its files (cdsrc.cpp); through its device, \\.\X:, it also gives the disc's
// table of contents as the source's track table and the raw sectors of its audio tracks. The device
// controls and the layouts of their buffers are written here from the platform's documentation of
// ntddcdrm.h; the tests check them against the compiler's own headers.
#pragma once
#include "cdsrc/cdsrc.h"

enum {
    // CTL_CODE(FILE_DEVICE_CD_ROM 0x02, function, method, FILE_READ_ACCESS 1):
    // device << 16 | access << 14 | function << 2 | method.
    DRIVE_IOCTL_READ_TOC = 0x2 << 16 | 1 << 14 | 0x00 << 2 | 0,  // METHOD_BUFFERED
    DRIVE_IOCTL_RAW_READ = 0x2 << 16 | 1 << 14 | 0x0F << 2 | 2,  // METHOD_OUT_DIRECT

    // CDROM_TOC, as IOCTL_CDROM_READ_TOC answers: Length[2] (big-endian: the bytes after itself),
    // FirstTrack, LastTrack, then one TRACK_DATA of 8 bytes a track and one for the lead-out:
    // Reserved, Control (bits 0-3) and Adr (bits 4-7), TrackNumber, Reserved1, Address[4]. This
    // control answers each Address in MSF: Address[1..3] = minute, second, frame, counted from the
    // start of the 2-second pregap before LBA 0. Room for 100 entries.
    DRIVE_TOC_HEADER = 4,
    DRIVE_TOC_ENTRY = 8,
    DRIVE_TOC_BYTES = DRIVE_TOC_HEADER + 100 * DRIVE_TOC_ENTRY,
    DRIVE_LEADOUT = 0xAA,      // the TrackNumber of the lead-out's entry
    DRIVE_CONTROL_DATA = 0x4,  // Control bit 2: a data track; clear for audio
    DRIVE_MSF_LBA0 = 150,      // 00:02:00

    // RAW_READ_INFO: DiskOffset (LARGE_INTEGER: 8 bytes, little-endian) = LBA * 2048, SectorCount
    // (4), TrackMode (4; TRACK_MODE_TYPE CDDA = 2). The answer is SectorCount sectors of 2352 bytes.
    DRIVE_RAW_READ_INFO = 16,
    DRIVE_RAW_COUNT_AT = 8,
    DRIVE_RAW_MODE_AT = 12,
    DRIVE_TRACK_MODE_CDDA = 2,
    DRIVE_DISK_OFFSET_SECTOR = 2048,

    // The first raw read asks for a second of sound, the audio stage's block; a driver that refuses
    // it as too large (its adapter's longest transfer) is asked for half as much, and so on.
    DRIVE_FIRST_BLOCK = 75,
    // Reads of a block: the first and the retries of a block the drive fails to read.
    DRIVE_READ_TRIES = 4,
};

// The track table in a CDROM_TOC answer of got bytes from the device named device, into out (room
// for MAX_TRACKS): the number of tracks, 0 when the answer is no table of contents (too short, no
// lead-out, a track number outside 1-99, an address that is no MSF or does not rise).
int drive_toc_tracks(const uint8_t *toc, uint32_t got, const char *device, cd_track *out);

// When root is a drive root ("D:\") of type DRIVE_CDROM whose device answers a table of contents,
// fills the source's track table from it and keeps the device open in s->drive: 1. Otherwise the
// source is left as it was (a folder, without tracks) and the device closed: 0.
int drive_open(cd_source *s, const char *root);
// count raw sectors of the audio track at index track, from its sector first on, into buf: read
// from the device in blocks the driver accepts (smaller ones when it refuses a block as too
// large), each block tried up to DRIVE_READ_TRIES times. A block that fails every try is logged
// with its sectors, and the device's reason noted for the caller's ERROR line.
int drive_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf);
