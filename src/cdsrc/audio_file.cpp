// A file read through a window of its bytes (audio_file.h).
#include "cdsrc/audio_file.h"

#include <stdlib.h>
#include <string.h>

int64_t audio_file_read_at(void *file, uint64_t at, void *out, size_t n) {
    audio_file *f = (audio_file *)file;
    if (f->failed) return -1;
    if (at >= f->size) return 0;
    if (n > f->size - at) n = (size_t)(f->size - at);
    uint8_t *o = (uint8_t *)out;
    size_t done = 0;
    while (done < n) {
        uint64_t p = at + done;
        if (p >= f->window_at && p - f->window_at < f->window_len) {
            size_t k = (size_t)(f->window_at + f->window_len - p);
            if (k > n - done) k = n - done;
            memcpy(o + done, f->window + (p - f->window_at), k);
            done += k;
            continue;
        }
        // A large read goes straight to its destination; a small one refills the window.
        int direct = n - done >= AUDIO_FILE_WINDOW;
        DWORD want = direct ? (DWORD)(n - done < 0x40000000 ? n - done : 0x40000000) : (DWORD)AUDIO_FILE_WINDOW, got = 0;
        LARGE_INTEGER to;
        to.QuadPart = (LONGLONG)p;
        if (!SetFilePointerEx(f->h, to, NULL, FILE_BEGIN) ||
            !ReadFile(f->h, direct ? o + done : f->window, want, &got, NULL)) {
            f->failed = 1;
            return -1;
        }
        if (got == 0) break;  // the file is shorter than it was
        if (direct) {
            done += got;
        } else {
            f->window_at = p;
            f->window_len = got;
        }
    }
    return (int64_t)done;
}

size_t audio_file_read(audio_file *f, void *out, size_t n) {
    int64_t got = audio_file_read_at(f, f->pos, out, n);
    if (got <= 0) return 0;
    f->pos += (uint64_t)got;
    return (size_t)got;
}

audio_bytes audio_file_bytes(audio_file *f) {
    audio_bytes b = {audio_file_read_at, f, f->size};
    return b;
}

int audio_file_open(audio_file *f, const char *path) {
    memset(f, 0, sizeof *f);
    f->h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (f->h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    f->window = (uint8_t *)malloc(AUDIO_FILE_WINDOW);
    if (!f->window || !GetFileSizeEx(f->h, &size)) return 0;
    f->size = (uint64_t)size.QuadPart;
    return 1;
}

void audio_file_close(audio_file *f) {
    if (f->h && f->h != INVALID_HANDLE_VALUE) CloseHandle(f->h);
    free(f->window);
    memset(f, 0, sizeof *f);
}
