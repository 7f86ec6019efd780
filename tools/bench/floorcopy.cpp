// floorcopy: the floor under an install's copy and audio stages. It reads the same bytes with the
// same fixed pattern as the setup and writes the same files with the same block sizes, from a list
// made beforehand: no tree walk, no checks of names, no log, no progress.
//
//   floorcopy LIST     LIST: one line per step, fields separated by tabs:
//     D  FOLDER                                   create the folder
//     F  SOURCE  DEST                             copy a file in 1 MiB blocks (a folder source)
//     I  IMAGE  SECTOR  OFFSET  BASE  LBA  SIZE  DEST
//                                                 copy a file of an image: for every 2048 bytes one
//                                                 seek (to BASE + n * SECTOR + OFFSET) and one read,
//                                                 32 sectors to a 64 KiB write
//     W  TRACKFILE  OFFSET  SECTORS  DEST         a WAV file: its 44-byte header, then for every 75
//                                                 sectors open, seek, read and close the track's
//                                                 file, and one write
// Exits 0 when every step succeeded, or prints the failing step and exits 1.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "util/handles.h"
#include "raw_io.h"

enum { USER_DATA = 2048, RAW = 2352, COPY_BLOCK = 1 << 20, ISO_BLOCK_SECTORS = 32, AUDIO_SECTORS = 75 };

static HANDLE create(const char *path) {
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}
static int write_all(HANDLE h, const void *buf, DWORD n) {
    DWORD put = 0;
    return WriteFile(h, buf, n, &put, NULL) && put == n;
}

static int copy_plain(const char *src, const char *dst) {
    static char block[COPY_BLOCK];
    handle_guard in(CreateFileA(src, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    handle_guard out(create(dst));
    if (!in.ok() || !out.ok()) return 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.h, block, sizeof block, &got, NULL)) return 0;
        if (got == 0) return 1;
        if (!write_all(out.h, block, got)) return 0;
    }
}

static int copy_image_file(const char *image, unsigned sector, unsigned offset, unsigned long long base,
                           unsigned long lba, unsigned long long size, const char *dst) {
    static char block[ISO_BLOCK_SECTORS * USER_DATA];
    handle_guard in(open_read(image));
    handle_guard out(create(dst));
    if (!in.ok() || !out.ok()) return 0;
    while (size > 0) {
        unsigned n = 0;
        while (n < ISO_BLOCK_SECTORS && (unsigned long long)n * USER_DATA < size) {
            if (!seek_to(in.h, base + (unsigned long long)(lba + n) * sector + offset) ||
                !read_all(in.h, block + n * USER_DATA, USER_DATA))
                return 0;
            n++;
        }
        DWORD want = (unsigned long long)n * USER_DATA < size ? n * USER_DATA : (DWORD)size;
        if (!write_all(out.h, block, want)) return 0;
        size -= want;
        lba += n;
    }
    return 1;
}

static void wav_header(unsigned char h[44], unsigned data) {
    memcpy(h, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data\0\0\0\0", 44);
    unsigned riff = data + 36;
    memcpy(h + 4, &riff, 4);
    memcpy(h + 40, &data, 4);
}

static int write_wav(const char *track, unsigned long long offset, unsigned long sectors, const char *dst) {
    static char block[AUDIO_SECTORS * RAW];
    handle_guard out(create(dst));
    if (!out.ok()) return 0;
    unsigned char h[44];
    wav_header(h, (unsigned)(sectors * RAW));
    if (!write_all(out.h, h, sizeof h)) return 0;
    for (unsigned long f = 0; f < sectors; f += AUDIO_SECTORS) {
        unsigned long n = sectors - f < (unsigned long)AUDIO_SECTORS ? sectors - f : (unsigned long)AUDIO_SECTORS;
        handle_guard in(open_read(track));
        if (!in.ok() || !seek_to(in.h, offset + (unsigned long long)f * RAW) || !read_all(in.h, block, n * RAW))
            return 0;
        if (!write_all(out.h, block, n * RAW)) return 0;
    }
    return 1;
}

static std::vector<std::string> fields(char *line) {
    std::vector<std::string> out;
    line[strcspn(line, "\r\n")] = 0;
    for (char *p = line;;) {
        char *tab = strchr(p, '\t');
        if (!tab) {
            out.push_back(p);
            return out;
        }
        *tab = 0;
        out.push_back(p);
        p = tab + 1;
    }
}

static int step(const std::vector<std::string> &f) {
    auto n = [&](size_t i) { return strtoull(f[i].c_str(), NULL, 10); };
    if (f[0] == "D" && f.size() == 2) return CreateDirectoryA(f[1].c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
    if (f[0] == "F" && f.size() == 3) return copy_plain(f[1].c_str(), f[2].c_str());
    if (f[0] == "I" && f.size() == 8)
        return copy_image_file(f[1].c_str(), (unsigned)n(2), (unsigned)n(3), n(4), (unsigned long)n(5), n(6), f[7].c_str());
    if (f[0] == "W" && f.size() == 5) return write_wav(f[1].c_str(), n(2), (unsigned long)n(3), f[4].c_str());
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: floorcopy LIST\n", stderr);
        return 1;
    }
    FILE *list = fopen(argv[1], "r");
    if (!list) {
        fprintf(stderr, "floorcopy: cannot read %s\n", argv[1]);
        return 1;
    }
    static char line[4096];
    while (fgets(line, sizeof line, list)) {
        if (!line[0] || line[0] == '\n') continue;
        std::vector<std::string> f = fields(line);
        if (!step(f)) {
            fprintf(stderr, "floorcopy: failed: %s %s\n", f[0].c_str(), f.size() > 1 ? f[1].c_str() : "");
            return 1;
        }
    }
    fclose(list);
    return 0;
}
