#include "util/checked.h"

#include <string.h>

#include "util/handles.h"
#include "util/paths.h"

enum {
    REMOVE_ACCESS = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
    AS_ITSELF = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,  // a folder too; a link as the link
    SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
};

int is_link(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    return GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

HANDLE open_checked(const char *path, const char *want, DWORD access) {
    HANDLE h = CreateFileA(path, access, SHARE_ALL, NULL, OPEN_EXISTING, AS_ITSELF, NULL);
    char real[PATH_TEXT];
    if (h == INVALID_HANDLE_VALUE || (handle_path(h, real) && ascii_same(real, want))) return h;
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

static int set_attributes(HANDLE h, DWORD attributes) {
    FILE_BASIC_INFO info;
    memset(&info, 0, sizeof info);  // times of 0 stay as they are
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
}

// 1 when the object h holds was read-only and no longer is; kept receives its attributes before.
static int drop_read_only(HANDLE h, DWORD *kept) {
    FILE_BASIC_INFO was;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &was, sizeof was) ||
        !(was.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    *kept = was.FileAttributes & settable;
    return set_attributes(h, *kept & ~FILE_ATTRIBUTE_READONLY);
}

// A read-only file refuses to go: its attribute is cleared first.
int remove_through(HANDLE h) {
    FILE_DISPOSITION_INFO gone = {TRUE};
    if (SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone)) return 1;
    DWORD kept;
    if (GetLastError() != ERROR_ACCESS_DENIED || !drop_read_only(h, &kept)) return 0;
    if (SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone)) return 1;
    set_attributes(h, kept);
    return 0;
}

int remove_checked(const char *path, const char *want) {
    handle_guard h(open_checked(path, want, REMOVE_ACCESS));
    return h.ok() && remove_through(h.h);
}

int remove_held(HANDLE h) {
    handle_guard d(ReOpenFile(h, REMOVE_ACCESS, SHARE_ALL, AS_ITSELF));
    return d.ok() && remove_through(d.h);
}

static int lies_as_named(HANDLE h, const char *path) {
    char real[PATH_TEXT], want[PATH_TEXT];
    return handle_path(h, real) && path_expected(path, want) && ascii_same(real, want);
}

// A new file is made only in a folder that lies where its name says: made through a linked folder,
// it would be a new file elsewhere before any check of it could run.
static int parent_writable(const char *path) {
    char parent[PATH_TEXT];
    return !path_parent(parent, sizeof parent, path) || folder_writable(parent);
}

// A read-only file at one of our names (the user's doing, or a copy made by other means) refuses to
// be opened for writing, and would stop every install there: its attribute is cleared through a
// handle that shows the file lies where named, as a removal does.
static int made_writable(const char *path) {
    char want[PATH_TEXT];
    DWORD kept;
    handle_guard h(path_expected(path, want) ? open_checked(path, want, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES)
                                             : INVALID_HANDLE_VALUE);
    if (h.ok() && drop_read_only(h.h, &kept)) return 1;
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

HANDLE create_checked(const char *path, int whole) {
    DWORD access = GENERIC_WRITE | (whole ? DELETE : 0);
    // Opened without emptying it: opening a link to replace its file would empty the file it leads to.
    HANDLE h = CreateFileA(path, access, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED && made_writable(path))
        h = CreateFileA(path, access, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    int existed = h != INVALID_HANDLE_VALUE, made_deletable = 0;
    if (!existed) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return INVALID_HANDLE_VALUE;
        if (!parent_writable(path)) {
            SetLastError(ERROR_STOPPED_AT_LINK);
            return INVALID_HANDLE_VALUE;
        }
        // A link at the name that leads nowhere is not followed: the name is taken. A file made here
        // and then not found where named (a failed look) goes again through its own handle.
        h = CreateFileA(path, access | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        made_deletable = h != INVALID_HANDLE_VALUE;
        if (!made_deletable && GetLastError() == ERROR_ACCESS_DENIED)
            h = CreateFileA(path, access, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE) return h;
    }
    if (!lies_as_named(h, path)) {
        if (made_deletable) remove_through(h);
        CloseHandle(h);
        SetLastError(ERROR_STOPPED_AT_LINK);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && !SetEndOfFile(h)) {
        DWORD err = GetLastError();
        CloseHandle(h);
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

