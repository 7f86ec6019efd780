#include "util/util.h"
#include "util/state.h"

#include <stdlib.h>
#include <string.h>

#include "util/handles.h"
#include "util/paths.h"
#include "util/checked.h"

void log_to_window(const char *line) {
    if (!hwnd || silent) return;
    char *copy = _strdup(line);
    // The window frees what it receives; a copy that cannot be posted would leak, so free it here.
    if (copy && !PostMessageA(hwnd, WM_SETUP_LOG, 0, (LPARAM)copy)) free(copy);
}

int path_exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int is_dir(const char *path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether the folder is there after its creation failed with err (it existed, or another made it):
// if not, err is the reason.
static int made_dir(const char *path, DWORD err) {
    if (is_dir(path)) return 1;
    note_reason(err);
    SetLastError(err);
    return 0;
}

int make_dirs(const char *path) {
    char work[PATH_TEXT];
    if (strlen(path) >= sizeof work) return 0;  // a cut path names another folder
    strcpy(work, path);
    // Below the install folder, a folder made or used lies where its name says, not behind a link.
    if (!folder_writable(work)) {
        SetLastError(ERROR_STOPPED_AT_LINK);
        note_reason(ERROR_STOPPED_AT_LINK);
        return 0;
    }
    // Most calls name a folder whose parent exists: then one creation is all it takes, and the walk
    // from the root (a file system request for every level) is paid only when a level is missing.
    if (CreateDirectoryA(work, NULL)) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) return made_dir(work, ERROR_ALREADY_EXISTS);
    // The first three characters are never a cut point: "C:\" itself is not created. A shorter text
    // has none at all.
    size_t n = strlen(work);
    for (size_t i = 3; i < n; i++) {
        if (work[i] == '\\' || work[i] == '/') {
            char sep = work[i];
            work[i] = 0;
            CreateDirectoryA(work, NULL);
            work[i] = sep;
        }
    }
    if (CreateDirectoryA(work, NULL)) return 1;
    return made_dir(work, GetLastError());
}

// Creates the parent folder of a file path; only a backslash separates here.
static void make_parent(const char *path) {
    char parent[PATH_TEXT];
    const char *cut = strrchr(path, '\\');
    if (!cut || (size_t)(cut - path) >= sizeof parent) return;
    memcpy(parent, path, cut - path);
    parent[cut - path] = 0;
    make_dirs(parent);
}

int write_file(const char *path, const void *data, uint64_t size) {
    make_parent(path);
    handle_guard h(create_checked(path, 1));
    if (!h.ok()) {
        DWORD err = GetLastError();
        note_reason(err);
        setup_log("cannot write %s (error %lu)", path, err);
        return 0;
    }
    DWORD written = 0;
    // Flushed before it is closed, so that a file the disk did not take can still go through its
    // handle: a cut program or file would pass for a whole one.
    BOOL wrote = WriteFile(h.h, data, (DWORD)size, &written, NULL);
    if (wrote && written == size && FlushFileBuffers(h.h) && h.close()) return 1;
    note_reason(wrote && written != size ? ERROR_DISK_FULL : GetLastError());
    if (h.ok()) remove_through(h.h);
    h.close();
    setup_log("write failed: %s", path);
    return 0;
}

void *read_file(const char *path, uint64_t *size) {
    handle_guard h(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return NULL;
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h.h, &li) || li.QuadPart < 0) return NULL;
    uint64_t n = (uint64_t)li.QuadPart;
    // One read request carries a 32-bit count: refuse 4 GiB and more before allocating what could
    // never be read.
    if (n > 0xFFFFFFFFull) return NULL;
    char *buf = (char *)malloc((size_t)n + 1);
    if (!buf) return NULL;
    DWORD got = 0;
    if (!ReadFile(h.h, buf, (DWORD)n, &got, NULL) || got != n) {
        free(buf);
        return NULL;
    }
    *size = n;
    return buf;
}

static int copy_into(const char *src, const char *dst, progress *p, int whole) {
    static char block[COPY_BLOCK];
    // Guards close in reverse order: the destination's, declared first, closes after the source.
    handle_guard out(INVALID_HANDLE_VALUE);
    handle_guard in(CreateFileA(src, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    if (!in.ok()) {
        DWORD err = GetLastError();
        make_parent(dst);
        note_reason(err);
        setup_log("cannot read %s", src);
        return 0;
    }
    out.h = create_checked(dst, whole);
    // The parent folders are made when they are missing, not before every file of a tree.
    if (!out.ok() && GetLastError() == ERROR_PATH_NOT_FOUND) {
        make_parent(dst);
        out.h = create_checked(dst, whole);
    }
    if (!out.ok()) {
        note_reason(GetLastError());
        in.close();
        setup_log("cannot write %s", dst);
        return 0;
    }
    for (;;) {
        DWORD got = 0, put = 0;
        if (!ReadFile(in.h, block, sizeof block, &got, NULL)) {
            DWORD err = GetLastError();
            if (whole) remove_through(out.h);
            note_reason(err);
            return 0;
        }
        if (got == 0) break;
        BOOL wrote = WriteFile(out.h, block, got, &put, NULL);
        if (!wrote || put != got) {
            DWORD err = wrote ? ERROR_DISK_FULL : GetLastError();
            if (whole) remove_through(out.h);
            note_reason(err);
            setup_log("cannot write %s", dst);  // a full disk, say: the caller's ERROR line follows
            return 0;
        }
        if (p) progress_add(p, got);
    }
    // Normal attributes (CD files arrive read-only), set through the open handle: under Wine, opening
    // the file again by its path costs more than the whole copy of a small file.
    FILE_BASIC_INFO info;
    memset(&info, 0, sizeof info);  // times of 0 stay as they are
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(out.h, FileBasicInfo, &info, sizeof info);
    in.close();
    if (whole && !FlushFileBuffers(out.h)) {
        DWORD err = GetLastError();
        remove_through(out.h);
        note_reason(err);
        setup_log("cannot write %s", dst);
        return 0;
    }
    if (out.close()) return 1;
    note_reason(GetLastError());
    setup_log("cannot write %s", dst);
    return 0;
}

int file_size(const char *path, uint64_t *size) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return 0;
    *size = (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    return 1;
}

int read_at(void *h, uint64_t at, void *buf, uint32_t len) {
    LARGE_INTEGER pos;
    pos.QuadPart = (LONGLONG)at;
    DWORD got = 0;
    return SetFilePointerEx(h, pos, NULL, FILE_BEGIN) && ReadFile(h, buf, len, &got, NULL) && got == len;
}

int copy_file(const char *src, const char *dst, progress *p) { return copy_into(src, dst, p, 0); }

int copy_file_whole(const char *src, const char *dst) { return copy_into(src, dst, NULL, 1); }
