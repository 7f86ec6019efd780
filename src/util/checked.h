// Files written and removed only where their names say. Writing: a file is opened without emptying
// it, the platform says through the handle where it lies, and only then is it emptied and written.
// Removing, the one rule for every removal: the object is opened as itself (a link as the link),
// the platform says through that handle where it really lies, and it is deleted through the same
// handle, only when that is where its name says. Nothing is deleted by its name: a link planted at
// one of our names, or a folder swapped for a link meanwhile, would take the object it leads to with
// it (under Wine, deleting a link's name deletes its target).
#pragma once
#include <windows.h>

#include "util/text.h"  // PATH_TEXT

// The platform's ERROR_STOPPED_ON_SYMLINK, which the mingw headers lack: a write refused because the
// name leads elsewhere.
enum { ERROR_STOPPED_AT_LINK = 681 };

// The file at path opened for writing, made or emptied only once the handle shows that
// it lies where its name says (path_expected): a link planted at the name is opened, found to lead
// elsewhere and closed untouched; a new file is made only in a folder that lies where named
// (ERROR_STOPPED_AT_LINK both). With whole, the handle may also delete the file: one written whole
// or not at all. INVALID_HANDLE_VALUE on failure, with the reason in GetLastError.
HANDLE create_checked(const char *path, int whole);

// The object at path itself, with the given access, when the platform names it want through the
// handle; otherwise INVALID_HANDLE_VALUE (ERROR_ACCESS_DENIED when it lies elsewhere), untouched.
HANDLE open_checked(const char *path, const char *want, DWORD access);
// A junction or symbolic link, opened as itself.
int is_link(HANDLE h);
// Marks the object that h holds (opened with DELETE access) to be deleted when h closes; a read-only
// file has the attribute cleared through h first (and put back when it still cannot go).
int remove_through(HANDLE h);
// Removes the object at path when it really lies at want (see path_expected). 1 when it went; 0
// when it stays, with the reason in GetLastError (ERROR_FILE_NOT_FOUND when there was nothing).
int remove_checked(const char *path, const char *want);
// Removes the object that h holds (opened by open_checked, without the right to delete): the same
// object, opened again through the handle. Wine lists no folder while a handle with the right to
// delete it is open, so a folder is held without it until its entries are gone.
int remove_held(HANDLE h);
