// readpat: times one way of reading a disc image, inside the process, so that the cost of a read
// pattern can be told apart from the cost of starting the program and of writing the copy.
//
//   readpat sectors SECTOR_SIZE DATA_OFFSET FILE...   seek + one 2048-byte read for every sector
//   readpat blocks BLOCK FILE...                      each file whole, in reads of BLOCK bytes
//   readpat reopen BLOCK FILE...                      open, seek, read BLOCK bytes, close, per block
//
// Prints "<seconds> <bytes read>" for all files together and exits 0, or prints the failure and
// exits 1.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "util/handles.h"
#include "raw_io.h"

enum { USER_DATA = 2048 };

static unsigned long long file_size(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return 0;
    return (unsigned long long)a.nFileSizeHigh << 32 | a.nFileSizeLow;
}

// The reader of plain images: every sector on its own, after a seek to its user data.
static int by_sector(const char *path, unsigned sector, unsigned offset, unsigned long long *bytes) {
    handle_guard h(open_read(path));
    if (!h.ok() || sector < USER_DATA + offset) return 0;
    unsigned long long count = file_size(path) / sector;
    static char buf[USER_DATA];
    for (unsigned long long i = 0; i < count; i++)
        if (!seek_to(h.h, i * sector + offset) || !read_all(h.h, buf, USER_DATA)) return 0;
    *bytes = count * USER_DATA;
    return 1;
}

static int by_block(const char *path, DWORD block, int reopen, unsigned long long *bytes) {
    unsigned long long size = file_size(path), at = 0;
    if (block == 0) return 0;
    std::vector<char> buf(block);
    handle_guard keep(reopen ? INVALID_HANDLE_VALUE : open_read(path));
    if (!reopen && !keep.ok()) return 0;
    while (at < size) {
        DWORD n = size - at < block ? (DWORD)(size - at) : block;
        if (reopen) {
            // The audio reader opens the track's file for every block it reads.
            handle_guard h(open_read(path));
            if (!h.ok() || !seek_to(h.h, at) || !read_all(h.h, buf.data(), n)) return 0;
        } else if (!read_all(keep.h, buf.data(), n)) {
            return 0;
        }
        at += n;
    }
    *bytes = size;
    return 1;
}

int main(int argc, char **argv) {
    int sectors = argc > 1 && strcmp(argv[1], "sectors") == 0;
    int blocks = argc > 1 && (strcmp(argv[1], "blocks") == 0 || strcmp(argv[1], "reopen") == 0);
    int first = sectors ? 4 : 3;
    if ((!sectors && !blocks) || argc <= first) {
        fputs("usage: readpat sectors SECTOR_SIZE DATA_OFFSET FILE... | blocks BLOCK FILE... | reopen BLOCK FILE...\n",
              stderr);
        return 1;
    }
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    unsigned long long total = 0;
    for (int i = first; i < argc; i++) {
        unsigned long long bytes = 0;
        int ok = sectors ? by_sector(argv[i], (unsigned)strtoul(argv[2], NULL, 10),
                                     (unsigned)strtoul(argv[3], NULL, 10), &bytes)
                         : by_block(argv[i], (DWORD)strtoul(argv[2], NULL, 10), argv[1][0] == 'r', &bytes);
        if (!ok || bytes == 0) {
            fprintf(stderr, "readpat: cannot read %s as asked\n", argv[i]);
            return 1;
        }
        total += bytes;
    }
    QueryPerformanceCounter(&t1);
    printf("%.6f %llu\n", (double)(t1.QuadPart - t0.QuadPart) / freq.QuadPart, total);
    return 0;
}
