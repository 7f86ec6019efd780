// Installs from the prefix's CD-ROM drive D: (a folder holding the game CD's files) with its device
// emulated: CreateFileA of \\.\D:, GetDriveTypeA and DeviceIoControl on that device are answered in
// this program's import table from the game CD's cue/bin, with the table of contents that libcdio's
// cd-info lists for it. The music must come out as the install of the cue sheet makes it.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>
#include <ntddcdrm.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdsrc/drive.h"
#include "import_swap.h"
#include "install/install.h"
#include "support.h"

// The layouts the drive code writes by hand, as the compiler's headers declare them.
static_assert(DRIVE_IOCTL_READ_TOC == IOCTL_CDROM_READ_TOC, "IOCTL_CDROM_READ_TOC");
static_assert(DRIVE_IOCTL_RAW_READ == IOCTL_CDROM_RAW_READ, "IOCTL_CDROM_RAW_READ");
static_assert(DRIVE_TOC_BYTES == sizeof(CDROM_TOC), "CDROM_TOC");
static_assert(DRIVE_TOC_HEADER == offsetof(CDROM_TOC, TrackData), "CDROM_TOC.TrackData");
static_assert(DRIVE_TOC_ENTRY == sizeof(TRACK_DATA), "TRACK_DATA");
static_assert(DRIVE_RAW_READ_INFO == sizeof(RAW_READ_INFO), "RAW_READ_INFO");
static_assert(DRIVE_RAW_COUNT_AT == offsetof(RAW_READ_INFO, SectorCount), "RAW_READ_INFO.SectorCount");
static_assert(DRIVE_RAW_MODE_AT == offsetof(RAW_READ_INFO, TrackMode), "RAW_READ_INFO.TrackMode");
static_assert(DRIVE_TRACK_MODE_CDDA == (int)CDDA, "CDDA");

// One line of cd-info's track list: "  2: 00:16:16  001066 audio ...", the lead-out numbered 170.
struct listed_track {
    int number, m, s, f;
    unsigned lsn;
    bool data;
};

static std::vector<listed_track> cd_info_tracks(const std::string &listing) {
    std::vector<listed_track> out;
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        std::string line = listing.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? listing.size() : end + 1;
        listed_track t;
        char type[16];
        if (sscanf(line.c_str(), " %d: %d:%d:%d %u %15s", &t.number, &t.m, &t.s, &t.f, &t.lsn, type) != 6) continue;
        t.data = strcmp(type, "data") == 0;
        out.push_back(t);
    }
    return out;
}

// The drive, and how it misbehaves.
static struct {
    UINT type;                   // what GetDriveTypeA answers for D:\ .
    bool toc;                    // the device answers IOCTL_CDROM_READ_TOC
    DWORD longest;               // blocks of more sectors are refused as too large (0: none)
    DWORD bad_lba;               // reads that take in this sector fail with a data error ...
    int bad_reads;               // ... this many times (-1: always)
    std::string sectors;         // the disc's raw sectors from LBA 0
    CDROM_TOC answer;            // its table of contents, from cd-info
    HANDLE device;               // the handle CreateFileA gave for \\.\D:, until it is closed
    int opens, closes, refusals, failures;
    DWORD access, share, disposition;
    std::vector<DWORD> blocks;   // SectorCount of every raw read that was answered
    decltype(&CreateFileA) create;
    decltype(&CloseHandle) close;
    decltype(&GetDriveTypeA) drive_type;
    decltype(&DeviceIoControl) ioctl;
} drv;

static HANDLE WINAPI emulated_create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how,
                                     DWORD flags, HANDLE tmpl) {
    if (_stricmp(path, "\\\\.\\D:") != 0) return drv.create(path, access, share, sa, how, flags, tmpl);
    drv.opens++;
    drv.access = access;
    drv.share = share;
    drv.disposition = how;
    // A real handle, so that whatever the code does with it stays harmless; only this program's
    // DeviceIoControl knows it as the drive.
    drv.device = drv.create("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return drv.device;
}

static BOOL WINAPI emulated_close(HANDLE h) {
    if (h && h == drv.device) {
        drv.closes++;
        drv.device = NULL;
    }
    return drv.close(h);
}

static UINT WINAPI emulated_drive_type(LPCSTR root) {
    return _stricmp(root, "D:\\") == 0 ? drv.type : drv.drive_type(root);
}

static BOOL fail(DWORD err) {
    SetLastError(err);
    return FALSE;
}

// As the class driver checks a raw read: the buffers' sizes, the track mode, the range on the disc
// and the adapter's longest transfer, all refused as invalid parameters.
static BOOL raw_read(const void *in, DWORD in_size, void *out, DWORD out_size, DWORD *returned) {
    RAW_READ_INFO info;
    if (in_size < sizeof info) return fail(ERROR_INVALID_PARAMETER);
    memcpy(&info, in, sizeof info);
    uint64_t lba = (uint64_t)info.DiskOffset.QuadPart / 2048, count = info.SectorCount;
    if (info.TrackMode != CDDA || info.DiskOffset.QuadPart % 2048 || count == 0 || out_size < count * 2352 ||
        (lba + count) * 2352 > drv.sectors.size())
        return fail(ERROR_INVALID_PARAMETER);
    if (drv.longest && count > drv.longest) {
        drv.refusals++;
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (drv.bad_reads != 0 && drv.bad_lba >= lba && drv.bad_lba < lba + count) {
        if (drv.bad_reads > 0) drv.bad_reads--;
        drv.failures++;
        return fail(ERROR_CRC);
    }
    memcpy(out, drv.sectors.data() + lba * 2352, count * 2352);
    *returned = (DWORD)(count * 2352);
    drv.blocks.push_back((DWORD)count);
    return TRUE;
}

static BOOL WINAPI emulated_ioctl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                  LPDWORD returned, LPOVERLAPPED overlapped) {
    if (h != drv.device) return drv.ioctl(h, code, in, in_size, out, out_size, returned, overlapped);
    *returned = 0;
    if (code == IOCTL_CDROM_RAW_READ) return raw_read(in, in_size, out, out_size, returned);
    // Wine answers so for a drive mapped on a folder, and so does a driver without the control.
    if (code != IOCTL_CDROM_READ_TOC || !drv.toc) return fail(ERROR_INVALID_FUNCTION);
    if (out_size < sizeof(CDROM_TOC)) return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(out, &drv.answer, sizeof drv.answer);
    *returned = 2 + (drv.answer.Length[0] << 8 | drv.answer.Length[1]);
    return TRUE;
}

// The table of contents of the listing, in MSF as IOCTL_CDROM_READ_TOC answers it.
static CDROM_TOC toc_of(const std::vector<listed_track> &tracks) {
    CDROM_TOC toc;
    memset(&toc, 0, sizeof toc);
    toc.FirstTrack = (UCHAR)tracks.front().number;
    toc.LastTrack = (UCHAR)tracks[tracks.size() - 2].number;
    for (size_t i = 0; i < tracks.size(); i++) {
        TRACK_DATA &d = toc.TrackData[i];
        d.Control = tracks[i].data ? 4 : 0;
        d.Adr = 1;  // the Q subchannel's current position
        d.TrackNumber = (UCHAR)(tracks[i].number == 170 ? 0xAA : tracks[i].number);
        d.Address[1] = (UCHAR)tracks[i].m;
        d.Address[2] = (UCHAR)tracks[i].s;
        d.Address[3] = (UCHAR)tracks[i].f;
    }
    size_t length = 2 + tracks.size() * sizeof(TRACK_DATA);
    toc.Length[0] = (UCHAR)(length >> 8);
    toc.Length[1] = (UCHAR)length;
    return toc;
}

struct installed {
    int result;
    std::string game, log;
};

static installed install_from(const char *cd) {
    setup_opts o = {};
    snprintf(o.cd, sizeof o.cd, "%s", cd);
    snprintf(o.dir, sizeof o.dir, "%s", (temp_dir("drive") + "\\Drovenhelm").c_str());
    log_capture log;
    installed r;
    r.result = do_install(&o, NULL, NULL);
    r.game = std::string(o.dir) + "\\game";
    r.log = log.text();
    return r;
}

static bool logged(const installed &r, const std::string &line) {
    return ("\n" + r.log).find("\n" + line + "\n") != std::string::npos;
}

TEST(drive_audio, emulated_drive_rips_as_the_cue_sheet_does) {
    std::vector<listed_track> tracks = cd_info_tracks(slurp(testdata("gamecd\\gamecd.cd-info")));
    ASSERT_EQ(tracks.size(), 4u);
    for (const listed_track &t : tracks) ASSERT_EQ((t.m * 60 + t.s) * 75 + t.f, (int)t.lsn + 150) << t.number;
    const unsigned track2 = tracks[1].lsn, track3 = tracks[2].lsn;

    installed cue = install_from(testdata("gamecd\\gamecd.cue").c_str());
    ASSERT_EQ(cue.result, 1) << cue.log;
    const char *music[] = {"track02.wav", "track03.wav", "toc.txt"};
    for (const char *name : music) ASSERT_TRUE(exists(cue.game + "\\cdaudio\\" + name)) << name;

    drv.sectors = slurp(testdata("gamecd\\gamecd.bin"));
    drv.answer = toc_of(tracks);
    import_swap create("kernel32.dll", "CreateFileA", (void *)emulated_create);
    import_swap close("kernel32.dll", "CloseHandle", (void *)emulated_close);
    import_swap type("kernel32.dll", "GetDriveTypeA", (void *)emulated_drive_type);
    import_swap ioctl("kernel32.dll", "DeviceIoControl", (void *)emulated_ioctl);
    drv.create = (decltype(drv.create))create.original;
    drv.close = (decltype(drv.close))close.original;
    drv.drive_type = (decltype(drv.drive_type))type.original;
    drv.ioctl = (decltype(drv.ioctl))ioctl.original;
    ASSERT_TRUE(create.ok() && close.ok() && type.ok() && ioctl.ok());

    enum { MUSIC, NO_MUSIC, FAILS };
    struct {
        const char *name;
        UINT type;
        bool toc;
        DWORD longest, bad_lba;
        int bad_reads, outcome, refusals, failures;
    } rows[] = {
        {"plain drive", DRIVE_CDROM, true, 0, 0, 0, MUSIC, 0, 0},
        // 75 and 37 sectors refused once each; 18 kept for the rest of the disc.
        {"refuses blocks of more than 27 sectors", DRIVE_CDROM, true, 27, 0, 0, MUSIC, 2, 0},
        {"fails a block of track 2 twice", DRIVE_CDROM, true, 0, track2 + 100, 2, MUSIC, 0, 2},
        {"always fails a block of track 3", DRIVE_CDROM, true, 0, track3 + 10, -1, FAILS, 0, DRIVE_READ_TRIES},
        {"answers no table of contents", DRIVE_CDROM, false, 0, 0, 0, NO_MUSIC, 0, 0},
        {"a fixed drive is no CD-ROM drive", DRIVE_FIXED, true, 0, 0, 0, NO_MUSIC, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        drv.type = row.type;
        drv.toc = row.toc;
        drv.longest = row.longest;
        drv.bad_lba = row.bad_lba;
        drv.bad_reads = row.bad_reads;
        drv.device = NULL;
        drv.opens = drv.closes = drv.refusals = drv.failures = 0;
        drv.blocks.clear();
        installed r = install_from("D:");

        EXPECT_EQ(drv.opens, row.type == DRIVE_CDROM ? 1 : 0);
        EXPECT_EQ(drv.closes, drv.opens) << "the device is closed with the source";
        if (drv.opens) {
            EXPECT_EQ(drv.access, (DWORD)GENERIC_READ);
            EXPECT_EQ(drv.share, (DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE));
            EXPECT_EQ(drv.disposition, (DWORD)OPEN_EXISTING);
        }
        EXPECT_EQ(drv.refusals, row.refusals);
        EXPECT_EQ(drv.failures, row.failures);
        for (DWORD n : drv.blocks) EXPECT_LE(n, row.longest ? row.longest : 75u);
        if (row.outcome == MUSIC) {
            EXPECT_EQ(r.result, 1) << r.log;
            EXPECT_TRUE(logged(r, "Copying CD-ROM drive D:\\ (3 tracks) ...")) << r.log;
            EXPECT_TRUE(logged(r, "CD music: 2 tracks")) << r.log;
            for (const char *name : music) {
                std::string got = slurp(r.game + "\\cdaudio\\" + name);
                EXPECT_TRUE(got == slurp(cue.game + "\\cdaudio\\" + name)) << name << ": " << got.size() << " bytes";
            }
        } else if (row.outcome == NO_MUSIC) {
            EXPECT_EQ(r.result, 1) << r.log;
            EXPECT_TRUE(logged(r, "Copying folder D:\\ ...")) << r.log;
            EXPECT_NE(r.log.find("No CD audio tracks in this source"), std::string::npos) << r.log;
            EXPECT_FALSE(exists(r.game + "\\cdaudio"));
            EXPECT_TRUE(logged(r, "Done.")) << r.log;
        } else {
            EXPECT_EQ(r.result, 0) << r.log;
            // The block of 75 sectors that holds the bad one: the first of the track's two.
            EXPECT_TRUE(logged(r, "read error in \\\\.\\D:, sectors " + std::to_string(track3) + " to " +
                                      std::to_string(track3 + 74)))
                << r.log;
            EXPECT_TRUE(logged(r, "ERROR: reading audio track 3 failed")) << r.log;
            EXPECT_TRUE(slurp(r.game + "\\cdaudio\\track02.wav") == slurp(cue.game + "\\cdaudio\\track02.wav"));
            EXPECT_FALSE(exists(r.game + "\\cdaudio\\toc.txt"));
        }
    }
}
